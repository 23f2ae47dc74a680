#!/usr/bin/env bash
# What pelkora writes, read by other programs: python3-vobject and khard must see every
# contact with its labelled numbers, e-mails, dates and related names, and no stored label
# token ("_$!<Mobile>!$_") anywhere.
#
# The contacts come from an Apple export that holds every phone and e-mail label as Apple
# stores them; pelkora reads it into a private store and writes it out again with
# "pelkora contacts export". A small table with related names and an anniversary goes
# through "pelkora export-vcard", the export of the import page.
#
# Usage: vcard-readers-test.sh PELKORA APPLE_VCF TABLE_CSV
# Exit status 77 (a skipped test) only when khard or python3-vobject is not installed.
set -uo pipefail

pelkora=$1
fixture=$2
table=$3

if ! /usr/bin/python3 -c 'import vobject' 2>/dev/null; then
    echo "SKIPPED: /usr/bin/python3 with python3-vobject is not installed (scripts/install-deps --tests)"
    exit 77
fi
if ! command -v khard >/dev/null; then
    echo "SKIPPED: khard is not installed (scripts/install-deps --tests)"
    exit 77
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export XDG_CONFIG_HOME="$work/config" XDG_DATA_HOME="$work/data" XDG_STATE_HOME="$work/state"
export XDG_CACHE_HOME="$work/cache" HOME="$work/home"
mkdir -p "$XDG_CONFIG_HOME/khard" "$HOME" "$work/book"

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

# khard takes one contact per file of its folder (a vdir): the export is cut at each vCard.
fill_book() { # file.vcf
    rm -f "$work/book/"*.vcf
    awk -v dir="$work/book" '/^BEGIN:VCARD/ { n++ } { print > (dir "/card-" n ".vcf") }' "$1"
}

cat >"$XDG_CONFIG_HOME/khard/khard.conf" <<EOF
[addressbooks]
[[exported]]
path = $work/book

[general]
default_action = list

[contact table]
display = formatted_name
sort = formatted_name
localize_dates = no
show_uids = no

[vcard]
preferred_version = 3.0
skip_unparsable = no
EOF

"$pelkora" import --store "$work/store.sqlite" --no-duplicates --no-note-text "$fixture" >"$work/import.txt" 2>&1
check "the Apple export is read" "Contacts added:       3 of 3 cards" "$(grep '^Contacts added:' "$work/import.txt")"
"$pelkora" contacts --store "$work/store.sqlite" export "$work/export.vcf" >/dev/null 2>&1
check "the store is exported" 0 "$?"
check "no label token in the export" 0 "$(grep -c '_\$!<\|>!\$_' "$work/export.vcf")"

# python3-vobject: every labelled line with its TYPE words and its group's X-ABLabel.
cat >"$work/labels.py" <<'EOF'
import sys, vobject
properties = ["tel", "email", "url", "bday", "x-anniversary", "x-abdate", "x-abrelatednames",
              "x-spouse", "x-manager", "x-assistant"]
with open(sys.argv[1], encoding="utf-8") as f:
    cards = list(vobject.readComponents(f.read()))
for card in cards:
    print(card.fn.value)
    labels = {line.group: line.value for line in card.contents.get("x-ablabel", [])}
    for name in properties:
        for line in card.contents.get(name, []):
            types = ",".join(line.params.get("TYPE", []))
            label = labels.get(line.group, "") if line.group else ""
            print(f"  {name} [{types}] [{label}] {line.value}")
EOF
labels=$(/usr/bin/python3 "$work/labels.py" "$work/export.vcf" 2>&1)
check "python3-vobject reads every labelled value" "Anna Berg
  tel [IPHONE,CELL] [] +49 170 1000001
  tel [CELL] [] +49 170 1000002
  tel [VOICE] [main] +49 30 1000003
  tel [HOME] [] +49 30 1000004
  tel [WORK] [] +49 30 1000005
  tel [HOME,FAX] [] +49 30 1000006
  tel [WORK,FAX] [] +49 30 1000007
  tel [FAX] [] +49 30 1000008
  tel [PAGER] [] +49 30 1000009
  tel [OTHER] [] +49 30 1000010
  tel [CELL] [Apple Watch] +49 170 1000011
  tel [] [Boat] +49 30 1000012
  email [INTERNET,HOME] [] anna@home.example
  email [INTERNET,WORK] [] anna@work.example
  email [INTERNET] [iCloud] anna@icloud.example
  email [INTERNET] [school] anna@uni.example
  email [INTERNET] [Blog] anna@blog.example
  email [INTERNET,OTHER] [] anna@other.example
  url [HOME] [homepage] https://anna.example
  bday [] [] --0621
  x-anniversary [] [] 2004-06-20
  x-abdate [] [First day] 2010-09-01
  x-abrelatednames [] [spouse] Alex Berg
  x-abrelatednames [] [mother] Karin Berg
  x-abrelatednames [] [manager] Kim Lee
  x-abrelatednames [] [assistant] Lou Park
  x-abrelatednames [] [mother's mother] Oma Berg
  x-abrelatednames [] [Gardener] Bob
  x-spouse [] [] Alex Berg
  x-manager [] [] Kim Lee
  x-assistant [] [] Lou Park
Bea Kurz
  tel [WORK] [] +43 1 2000001
  tel [VOICE] [main] +43 1 2000002
  email [INTERNET,WORK] [] bea@work.example
  bday [] [] 1979-05-12
  x-abrelatednames [] [husband] Chris Kurz
  x-spouse [] [] Chris Kurz
Acme Widgets
  tel [VOICE] [main] +1 408 555 0100
  tel [WORK,FAX] [] +1 408 555 0101
  email [INTERNET,WORK] [] info@acme.example
  url [HOME] [homepage] https://acme.example" "$labels"

# khard: every contact listed, with its labelled numbers and e-mails and its dates. Its
# lists are sorted here, as khard's own order is not part of what is checked.
fill_book "$work/export.vcf"
# (khard's "email" says "searching for 'ALL' ..." first.)
run_khard() {
    khard "$@" 2>>"$work/khard-errors.txt" | sed -e "/^searching for '/d" -e 's/[[:space:]]*$//'
}
check "khard lists every contact" "Acme Widgets	exported
Anna Berg	exported
Bea Kurz	exported" "$(run_khard list --parsable | cut -f2- | sort)"
check "khard shows every number with its label" "+1 408 555 0100	Acme Widgets	main, VOICE
+1 408 555 0101	Acme Widgets	WORK, FAX
+43 1 2000001	Bea Kurz	WORK
+43 1 2000002	Bea Kurz	main, VOICE
+49 170 1000001	Anna Berg	IPHONE, CELL
+49 170 1000002	Anna Berg	CELL
+49 170 1000011	Anna Berg	Apple Watch, CELL
+49 30 1000003	Anna Berg	main, VOICE
+49 30 1000004	Anna Berg	HOME
+49 30 1000005	Anna Berg	WORK
+49 30 1000006	Anna Berg	HOME, FAX
+49 30 1000007	Anna Berg	WORK, FAX
+49 30 1000008	Anna Berg	FAX
+49 30 1000009	Anna Berg	PAGER
+49 30 1000010	Anna Berg	OTHER
+49 30 1000012	Anna Berg	Boat" "$(run_khard phone --parsable | LC_ALL=C sort)"
check "khard shows every e-mail address with its label" "anna@blog.example	Anna Berg	Blog, INTERNET
anna@home.example	Anna Berg	INTERNET, HOME
anna@icloud.example	Anna Berg	iCloud, INTERNET
anna@other.example	Anna Berg	INTERNET, OTHER
anna@uni.example	Anna Berg	school, INTERNET
anna@work.example	Anna Berg	INTERNET, WORK
bea@work.example	Bea Kurz	INTERNET, WORK
info@acme.example	Acme Widgets	INTERNET, WORK" "$(run_khard email --parsable | LC_ALL=C sort)"
# (The parsable form of "birthdays" prints a year-less date with Python's year 1900; the
# table shows what khard read.)
check "khard shows the birthday without a year" "Anna Berg --06-21
Bea Kurz 1979-05-12" "$(run_khard birthdays | tail -n +2 | tr -s ' ' | LC_ALL=C sort)"
anna=$(run_khard show --format yaml "Anna Berg")
check "khard shows the anniversary" "Anniversary: '2004-06-20'" "$(grep '^Anniversary:' <<<"$anna")"
check "no label token in khard's view" 0 "$(run_khard show "Anna Berg" | grep -c '_\$!<')"

# The rows of a table, written by the export of the import page: its own related-name lines.
"$pelkora" export-vcard --set "Coach=contactRelations:Coach" -o "$work/rows.vcf" "$table" \
    >/dev/null 2>&1
check "the rows are exported" 0 "$?"
check "no label token in the rows' export" 0 "$(grep -c '_\$!<\|>!\$_' "$work/rows.vcf")"
check "python3-vobject reads every row's labelled values" "Anna Berg
  tel [CELL] [] +49 170 1000001
  tel [HOME,FAX] [] +49 30 1000006
  tel [VOICE] [main] +49 30 1000003
  url [HOME] [homepage] https://anna.example
  x-anniversary [] [] 2004-06-20
  x-abrelatednames [] [spouse] Alex Berg
  x-abrelatednames [] [mother] Karin Berg
  x-abrelatednames [] [manager] Kim Lee
  x-abrelatednames [] [Coach] Bob Stone
  x-spouse [] [] Alex Berg
  x-manager [] [] Kim Lee
Bea Kurz
  tel [CELL] [] +43 664 2000001
  tel [VOICE] [main] +43 1 2000002
  x-anniversary [] [] 1999-09-09
  x-abrelatednames [] [spouse] Chris Kurz
  x-spouse [] [] Chris Kurz" "$(/usr/bin/python3 "$work/labels.py" "$work/rows.vcf" 2>&1)"
fill_book "$work/rows.vcf"
check "khard shows every row's numbers with their labels" "+43 1 2000002	Bea Kurz	main, VOICE
+43 664 2000001	Bea Kurz	CELL
+49 170 1000001	Anna Berg	CELL
+49 30 1000003	Anna Berg	main, VOICE
+49 30 1000006	Anna Berg	HOME, FAX" "$(run_khard phone --parsable | LC_ALL=C sort)"

check "khard reports no problem" "" "$(cat "$work/khard-errors.txt")"

if ((failures > 0)); then
    echo "$failures checks failed"
    exit 1
fi
echo "all checks passed"
