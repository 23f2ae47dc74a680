#!/bin/bash
# The folder "pelkora contacts export --vdir" writes, read by khard: every contact of an
# imported table listed once, with its labelled numbers and e-mails and its groups, and a
# second export replacing the files of the first rather than adding to them.
#
# Usage: vdir-khard-test.sh PELKORA TABLE.csv
# Exit status 77 (a skipped test) only when khard is not installed.
set -uo pipefail

pelkora=$1
table=$2

if ! command -v khard >/dev/null; then
    echo "SKIPPED: khard is not installed (scripts/install-deps --tests)"
    exit 77
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export XDG_CONFIG_HOME="$work/config" XDG_DATA_HOME="$work/data" XDG_STATE_HOME="$work/state"
export XDG_CACHE_HOME="$work/cache" HOME="$work/home"
mkdir -p "$XDG_CONFIG_HOME/khard" "$HOME"

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

cat >"$XDG_CONFIG_HOME/khard/khard.conf" <<CONF
[addressbooks]
[[pelkora]]
path = $work/vdir

[general]
default_action = list

[contact table]
display = formatted_name
CONF

"$pelkora" import --store "$work/book.sqlite" "$table" >"$work/import.txt" 2>&1
check "the table is imported" 0 "$?"
rows=$(($(wc -l <"$table") - 1))

export_vdir() {
    "$pelkora" contacts --store "$work/book.sqlite" export --vdir "$work/vdir" 2>&1
}
check "the first export writes every contact" \
    "Exported $rows contacts to $work/vdir: $rows new, 0 updated" "$(export_vdir)"
files=$(find "$work/vdir" -maxdepth 1 -name '*.vcf' ! -name '.*' | wc -l)
check "one file per contact" "$rows" "$files"
check "the second export updates every contact" \
    "Exported $rows contacts to $work/vdir: 0 new, $rows updated" "$(export_vdir)"
check "the second export adds no file" "$files" \
    "$(find "$work/vdir" -maxdepth 1 -name '*.vcf' ! -name '.*' | wc -l)"
check "no file left behind by a request" "" \
    "$(find "$work/vdir" -name '.pelkora-journal' -o -name '.pelkora-undo' -o -name '*.pelkora-new')"

run_khard() {
    khard "$@" 2>>"$work/khard-errors.txt" | sed -e "/^searching for '/d" -e 's/[[:space:]]*$//'
}
listed=$(run_khard list --parsable | cut -f2 | LC_ALL=C sort)
check "khard lists every contact once" "$rows" "$(wc -l <<<"$listed")"
check "khard lists no contact twice" "" "$(uniq -d <<<"$listed")"
check "khard lists the names" "$("$pelkora" contacts --store "$work/book.sqlite" list |
    sed 's/ — .*//' | LC_ALL=C sort)" "$listed"
check "khard shows the labelled numbers" "+49 170 1234567	Anna Müller	CELL
+49 351 4711 0	Anna Müller	WORK
+49 351 815 22	Anna Müller	HOME" "$(run_khard phone --parsable "Anna Müller" | LC_ALL=C sort)"
check "khard shows the e-mail address with its label" \
    "anna.mueller@example.de	Anna Müller	INTERNET, OTHER" "$(run_khard email --parsable "Anna Müller")"
anna=$(run_khard show --format yaml "Anna Müller")
check "khard shows the groups as categories" "Categories: Friends" "$(grep '^Categories:' <<<"$anna")"
check "khard shows the birthday" "Birthday: '1984-03-12'" "$(grep '^Birthday:' <<<"$anna")"
check "no label token in khard's view" 0 "$(run_khard show "Anna Müller" | grep -c '_\$!<')"
check "khard reads every file without complaint" "" \
    "$(grep -iv "^searching\|^$" "$work/khard-errors.txt" || true)"

exit $((failures > 0))
