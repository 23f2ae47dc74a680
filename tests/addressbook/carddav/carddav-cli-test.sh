#!/bin/bash
# The pelkora command against a CardDAV server (carddav-server.sh: Radicale over TLS, user ada,
# address books /ada/contacts/ "Contacts" and /ada/work/ "Work"), end to end:
#   - "stores add NAME carddav:URL --user ada --ca-file CA" names the server; with no Secret
#     Service it says on stderr that the password was not stored, and PELKORA_CARDDAV_PASSWORD
#     gives it to every command;
#   - "contacts containers" lists both address books by URL and display name;
#   - an import of contacts.csv puts one card per row on the server (read back with curl), with
#     the groups as CATEGORIES; the same import again finds every contact a duplicate from the
#     store's index, and files both copies of each in the duplicate groups;
#   - a certificate from another CA fails "stores add"; a wrong password and a server that is
#     down fail the import with a non-zero exit and say why;
#   - "undo --yes" takes the import's cards off the server again.
#
# Usage: carddav-cli-test.sh PELKORA EXAMPLES_DIR
# Exit status 77 (a skipped test) when Radicale, openssl or curl is missing or cannot start.
set -uo pipefail

pelkora=$1
table=$2/contacts.csv
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

work=$(mktemp -d)
cleanup() {
    bash "$here/carddav-server.sh" stop "$work/server"
    rm -rf "$work"
}
trap cleanup EXIT
export XDG_CONFIG_HOME="$work/config" XDG_DATA_HOME="$work/data" XDG_STATE_HOME="$work/state"
export XDG_CACHE_HOME="$work/cache" HOME="$work/home"
unset DBUS_SESSION_BUS_ADDRESS # no Secret Service: the password comes from the variable
mkdir -p "$XDG_CONFIG_HOME" "$HOME"

bash "$here/carddav-server.sh" start "$work/server" >/dev/null
status=$?
if ((status == 77)); then
    echo "SKIPPED: the CardDAV server did not start (above)"
    exit 77
fi
((status == 0)) || { echo "FAIL: carddav-server.sh start exited $status"; exit 1; }
source "$work/server/server.env"
contacts_url="${CARDDAV_URL}ada/contacts/"
export PELKORA_CARDDAV_PASSWORD=lovelace

failures=0
check() { # name expected actual
    if [[ "$2" != "$3" ]]; then
        echo "FAIL: $1"
        diff <(printf '%s\n' "$2") <(printf '%s\n' "$3") | sed 's/^/    /'
        failures=$((failures + 1))
    else
        echo "ok: $1"
    fi
}
# Runs pelkora with the arguments after NAME; its output lands in $work/NAME.out and .err.
# Prints the exit status.
run() { # name arguments...
    local name=$1
    shift
    "$pelkora" "$@" >"$work/$name.out" 2>"$work/$name.err"
    echo $?
}
said() { # name pattern: whether pelkora's stdout or stderr of that run matches (grep -Ei)
    cat "$work/$1.out" "$work/$1.err" | grep -Eqi "$2" && echo yes || echo "no: $(cat "$work/$1.err")"
}
json_key() { # name key: that key of the JSON object on the run's stdout
    /usr/bin/python3 -c 'import json, sys
try:
    print(json.load(open(sys.argv[1])).get(sys.argv[2]))
except ValueError:
    print("no JSON")' "$work/$1.out" "$2"
}
# The cards of an address book as the server has them (an addressbook-query of every card),
# one after the other with their lines unfolded.
server_cards() { # book URL
    curl -s --cacert "$CARDDAV_CA" -u ada:lovelace -X REPORT -H 'Depth: 1' \
        -H 'Content-Type: application/xml; charset=utf-8' --data-binary @- "$1" <<'XML' |
<?xml version="1.0" encoding="utf-8"?>
<CR:addressbook-query xmlns:D="DAV:" xmlns:CR="urn:ietf:params:xml:ns:carddav">
  <D:prop><D:getetag/><CR:address-data/></D:prop>
</CR:addressbook-query>
XML
        /usr/bin/python3 -c 'import re, sys, xml.etree.ElementTree as tree
try:
    root = tree.fromstring(sys.stdin.buffer.read())
except tree.ParseError as error:
    sys.exit(f"not a multistatus: {error}")
for data in root.iter("{urn:ietf:params:xml:ns:carddav}address-data"):
    print(re.sub(r"\r?\n[ \t]", "", data.text or "").replace("\r", ""))'
}
card_count() { server_cards "$1" | grep -c '^BEGIN:VCARD'; }

rows=$(/usr/bin/python3 -c 'import csv, sys; print(sum(1 for _ in csv.reader(open(sys.argv[1]))) - 1)' "$table")

# Naming the server.
check "stores add" 0 "$(run add stores add work "carddav:$CARDDAV_URL" --user ada --ca-file "$CARDDAV_CA")"
check "stores add says the password was not stored (stderr)" yes \
    "$(grep -Eqi 'password.*not (been )?(stored|saved)|not (stored|saved).*password' "$work/add.err" &&
        echo yes || echo "no: $(cat "$work/add.err")")"
check "containers" 0 "$(run containers contacts --store work containers)"
for book in "${CARDDAV_URL}ada/contacts/ Contacts" "${CARDDAV_URL}ada/work/ Work"; do
    check "containers lists ${book#* } at ${book%% *}" yes \
        "$(grep -F "${book%% *}" "$work/containers.out" | grep -Fqw "${book#* }" && echo yes ||
            echo "no: $(cat "$work/containers.out")")"
done

# The first import.
check "import" 0 "$(run import1 import --json --store work --container "$contacts_url" "$table")"
check "import: contacts added" "$rows" "$(json_key import1 contactsAdded)"
check "the server holds one card per row" "$rows" "$(card_count "$contacts_url")"
check "the server has Anna Müller" 1 "$(server_cards "$contacts_url" | grep -c '^FN:Anna Müller$')"
check "the groups are CATEGORIES" "Book club,Customers,Family,Friends,Work" \
    "$(server_cards "$contacts_url" | /usr/bin/python3 -c 'import re, sys
names = set()
for line in sys.stdin:
    if re.match(r"(item\d+\.)?CATEGORIES[;:]", line, re.I):
        value = line.rstrip("\n").split(":", 1)[1]
        names.update(n.replace("\\,", ",").strip() for n in re.split(r"(?<!\\),", value))
print(",".join(sorted(n for n in names if "DUPLICATES" not in n)))')"
check "nothing went to the other book" 0 "$(card_count "${CARDDAV_URL}ada/work/")"

# The same file again: every row is a contact the book holds already. As on every store, the
# import adds each one again and sets both copies aside in the duplicate groups.
check "import again" 0 "$(run import2 import --json --store work --container "$contacts_url" "$table")"
check "import again: every contact an old duplicate" "$rows" "$(json_key import2 oldDuplicates)"
check "the server holds both copies" "$((2 * rows))" "$(card_count "$contacts_url")"
check "the old copies are in OLD DUPLICATES" "$rows" \
    "$(server_cards "$contacts_url" | grep -c '^CATEGORIES:.*OLD DUPLICATES')"
check "the new copies are in NEW DUPLICATES" "$rows" \
    "$(server_cards "$contacts_url" | grep -c '^CATEGORIES:.*NEW DUPLICATES')"

# A certificate the given CA did not sign: stores add tries the account before it names it.
status=$(run other-ca stores add other "carddav:$CARDDAV_URL" --user ada --ca-file "$CARDDAV_OTHER_CA")
check "another CA: stores add fails" yes "$( ((status != 0)) && echo yes || echo "no: exit $status")"
check "another CA: it says certificate" yes "$(said other-ca certificate)"
check "another CA: the store is not named" no \
    "$(grep -q '<key>other</key>' "$XDG_CONFIG_HOME/pelkora/stores.plist" 2>/dev/null && echo yes || echo no)"

# A wrong password.
status=$(PELKORA_CARDDAV_PASSWORD=wrong run wrong import --store work --container "$contacts_url" "$table")
check "wrong password: the import fails" yes "$( ((status != 0)) && echo yes || echo "no: exit $status")"
check "wrong password: it names the user or the password" yes "$(said wrong 'ada|password')"

# The server is down, then back.
bash "$here/carddav-server.sh" stop "$work/server"
status=$(run down import --store work --container "$contacts_url" "$table")
check "server down: the import fails" yes "$( ((status != 0)) && echo yes || echo "no: exit $status")"
bash "$here/carddav-server.sh" restart "$work/server" >/dev/null ||
    { echo "FAIL: the server did not start again"; exit 1; }
check "after the failures the server holds what the two imports saved" "$((2 * rows))" \
    "$(card_count "$contacts_url")"

# Undo: imports that saved contacts, newest first, the first import last (by its number).
run imports imports --json >/dev/null
mapfile -t numbers < <(/usr/bin/python3 -c 'import json, sys
try:
    records = json.load(open(sys.argv[1]))
except ValueError:
    records = []
for record in records:
    if record.get("contactsSaved", 0) > 0 and not record.get("undone"):
        print(record["number"])' "$work/imports.out")
check "the journal has the first import" yes "$( ((${#numbers[@]} > 0)) && echo yes ||
    echo "no: $(cat "$work/imports.out" "$work/imports.err")")"
first=none
((${#numbers[@]} > 0)) && first=${numbers[${#numbers[@]} - 1]}
for number in "${numbers[@]}"; do
    [[ "$number" == "$first" ]] && continue
    check "undo of the later import $number" 0 "$(run undo-later undo --yes "$number")"
done
check "undo --yes of the first import" 0 "$(run undo undo --yes --json "$first")"
check "undo: every card removed" "$rows" "$(json_key undo contactsRemoved)"
check "the book is empty again" 0 "$(card_count "$contacts_url")"

if ((failures > 0)); then
    for name in add containers import1 import2 other-ca wrong down imports undo; do
        [[ -f "$work/$name.out" ]] || continue
        echo "--- pelkora ($name):"
        cat "$work/$name.out" "$work/$name.err" | head -40
    done
    echo "--- radicale:"
    cat "$work/server/radicale.log"
fi
exit $((failures > 0))
