#!/usr/bin/env bash
# Saving one generated table to a CardDAV server, Pelkora beside vdirsyncer, on the same
# throwaway Radicale (tests/addressbook/carddav/carddav-server.sh: TLS on 127.0.0.1, user ada):
#   pelkora:     "pelkora import --store work --container URL/ada/contacts/ people.csv",
#                the whole command timed;
#   vdirsyncer:  the same contacts written as a vdir folder by "pelkora import --store vdir:…"
#                (not timed), "vdirsyncer discover" (not timed), then "vdirsyncer sync" timed: it
#                uploads the folder into a new address book /ada/book/;
#   again:       the pelkora import once more into the same book, where every row is now a
#                duplicate, as a percentage of the first.
# Prints a table: tool, contacts, seconds, contacts/s, and pelkora's contacts/s over
# vdirsyncer's. Without a pelkora that can name a CardDAV server, its rows say so and the
# vdirsyncer row is still measured; without pelkora at all the folder is written by a small
# Python writer instead.
# Builds nothing: it runs the pelkora of a benchmark build (cmake --preset bench, then build
# the target pelkora). Your own settings, journal and address books are never touched.
#
#   bench/carddav-bench.sh [CONTACTS]        (default 10000: about 50 minutes per tool, as
#                                            Radicale takes O(n²) for n new cards; 1000 is quick)
# Environment: PELKORA_BUILD_DIR, the build folder (default build/bench).
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${PELKORA_BUILD_DIR:-$root/build/bench}"
[[ "$build" = /* ]] || build="$root/$build"
pelkora="$build/apps/cli/pelkora"
rows="${1:-10000}"
server_script="$root/tests/addressbook/carddav/carddav-server.sh"
command -v vdirsyncer >/dev/null || { echo "vdirsyncer is not installed (scripts/install-deps --tests)" >&2; exit 2; }

work="$(mktemp -d)"
trap 'bash "$server_script" stop "$work/server"; rm -rf "$work"' EXIT
export XDG_CONFIG_HOME="$work/config" XDG_DATA_HOME="$work/data" XDG_STATE_HOME="$work/state"
export XDG_CACHE_HOME="$work/cache" HOME="$work/home"
unset DBUS_SESSION_BUS_ADDRESS # no Secret Service: the password comes from the variable
export PELKORA_CARDDAV_PASSWORD=lovelace
mkdir -p "$XDG_CONFIG_HOME/vdirsyncer" "$HOME" "$work/vdir"

/usr/bin/python3 "$root/bench/generate-people-csv.py" "$work/people.csv" "$rows"

status=0
bash "$server_script" start "$work/server" >/dev/null || status=$?
if ((status != 0)); then
    echo "the CardDAV server did not start (above)" >&2
    exit 1
fi
source "$work/server/server.env"
book="${CARDDAV_URL}ada/contacts/"

calc() { /usr/bin/python3 -c "print($1)"; }
# The cards in an address book of ada's, by a PROPFIND of depth 1.
cards_in() {
    curl -s --cacert "$CARDDAV_CA" -u ada:lovelace -X PROPFIND -H 'Depth: 1' \
        --data '<propfind xmlns="DAV:"><prop><getetag/></prop></propfind>' "$1" |
        grep -o '<href>[^<]*\.vcf</href>' | wc -l
}

# The vdir folder, from the same table.
if [ -x "$pelkora" ]; then
    "$pelkora" import --store "vdir:$work/vdir/book" "$work/people.csv" >/dev/null
else
    echo "no $pelkora: the vdir folder is written by Python, pelkora is not measured" >&2
    mkdir -p "$work/vdir/book"
    /usr/bin/python3 - "$work/people.csv" "$work/vdir/book" <<'PY'
import csv, sys, uuid
for row in csv.DictReader(open(sys.argv[1], encoding="utf-8")):
    uid = str(uuid.uuid4())
    lines = ["BEGIN:VCARD", "VERSION:3.0", f"UID:{uid}",
             f"FN:{row['First Name']} {row['Last Name']}", f"N:{row['Last Name']};{row['First Name']};;;",
             f"ORG:{row['Company']}", f"EMAIL;TYPE=INTERNET:{row['E-mail']}",
             f"TEL;TYPE=CELL:{row['Mobile']}", f"BDAY:{row['Birthday']}",
             f"CATEGORIES:{row['Groups']}", "END:VCARD", ""]
    with open(f"{sys.argv[2]}/{uid}.vcf", "w", encoding="utf-8", newline="") as out:
        out.write("\r\n".join(lines))
PY
fi
cards=$(find "$work/vdir/book" -maxdepth 1 -name '*.vcf' | wc -l)

cat >"$XDG_CONFIG_HOME/vdirsyncer/config" <<CONF
[general]
status_path = "$work/vdirsyncer-status/"

[pair bench]
a = "folder"
b = "server"
collections = ["from a"]

[storage folder]
type = "filesystem"
path = "$work/vdir/"
fileext = ".vcf"

[storage server]
type = "carddav"
url = "${CARDDAV_URL}ada/"
verify = "$CARDDAV_CA"
username = "ada"
password = "lovelace"
CONF
# discover asks before it makes the address book on the server.
vdirsyncer discover <<<"y" >"$work/vdirsyncer.log" 2>&1 ||
    { cat "$work/vdirsyncer.log" >&2; exit 1; }
# Each client's own processor time (user + system), beside the wall-clock time: the server's
# share is what is left.
TIMEFORMAT='%R %U %S'
timed() { # output command…: runs it; prints "seconds cpu-seconds"
    local output=$1 times
    shift
    { times=$( { time "$@" >>"$output" 2>&1; } 2>&1 ); } || { cat "$output" >&2; return 1; }
    read -r real user system <<<"$times"
    echo "$real $(calc "$user + $system")"
}
read -r vdirsyncer_seconds vdirsyncer_cpu < <(timed "$work/vdirsyncer.log" vdirsyncer sync) || exit 1
vdirsyncer_cards=$(cards_in "${CARDDAV_URL}ada/book/")

line() { # tool contacts seconds cpu-seconds
    printf '%-22s %9s %9.2f %11.0f %11.2f\n' "$1" "$2" "$3" "$(calc "$2 / $3")" "$4"
}
printf '%-22s %9s %9s %11s %11s\n' tool contacts seconds contacts/s "client CPU s"
line "vdirsyncer sync" "$vdirsyncer_cards" "$vdirsyncer_seconds" "$vdirsyncer_cpu"
((vdirsyncer_cards == cards)) || echo "  (the folder holds $cards cards)"

ours() { # log: one timed pelkora import of the table into /ada/contacts/; prints the seconds
    timed "$work/$1" "$pelkora" import --store work --container "$book" "$work/people.csv"
}
if [ ! -x "$pelkora" ]; then
    echo "pelkora                skipped: no $pelkora"
elif ! "$pelkora" stores add work "carddav:$CARDDAV_URL" --user ada --ca-file "$CARDDAV_CA" \
    >"$work/stores.log" 2>&1; then
    echo "pelkora                skipped: $(tail -1 "$work/stores.log")"
else
    read -r first first_cpu < <(ours import1.log) || exit 1
    first_cards=$(cards_in "$book")
    line "pelkora import" "$first_cards" "$first" "$first_cpu"
    read -r second second_cpu < <(ours import2.log) || exit 1
    line "pelkora import again" "$rows" "$second" "$second_cpu"
    printf '\nthe second import (every row a duplicate, added again and filed) took %.0f%% of the first\n' \
        "$(calc "100 * $second / $first")"
    # The duplicate index: read from the cache and brought up to date by sync-collection.
    refresh=$(grep -o 'The index of [^ ]* is current: .* in [0-9.]* s' "$("$pelkora" log --path)" |
        tail -1 | sed -E 's/.* in ([0-9.]+) s/\1/')
    printf "its duplicate index's refresh took %.3f s, %.2f%% of the first import\n" \
        "$refresh" "$(calc "100 * ${refresh:-0} / $first")"
    printf 'pelkora: %.2f× the contacts/s of vdirsyncer sync\n' \
        "$(calc "($first_cards / $first) / ($vdirsyncer_cards / $vdirsyncer_seconds)")"
    ((first_cards == rows)) || echo "  (the server holds $first_cards of $rows contacts)"
fi
