#!/usr/bin/env bash
# Prints the import and vCard export figures as one small table. Builds nothing: it runs the
# benchmarks of an existing benchmark build (cmake --preset bench, then build the targets
# bench_import and bench_vcard_export), skipping one that is not there.
#
#   - import into an empty address book, rows/s (bench_import, BM_ImportIntoEmptyStore);
#   - the same rows again into the filled address book, rows/s (BM_ImportIntoFilledStore),
#     and how many times slower that second run is than the first;
#   - the group vCard export, contacts/s (bench_vcard_export, BM_GroupVCardExport);
#   - for comparison, python3-vobject serializing simple vCards (name, e-mail, phone,
#     address, birthday), contacts/s, with Debian's /usr/bin/python3.
#
# Environment:
#   PELKORA_BUILD_DIR        the build folder (default build/bench)
#   PELKORA_VOBJECT_CARDS    vCards vobject writes (default 10000)
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${PELKORA_BUILD_DIR:-$root/build/bench}"
[[ "$build" = /* ]] || build="$root/$build"
cards="${PELKORA_VOBJECT_CARDS:-10000}"
python=/usr/bin/python3
results="$(mktemp -d)"
trap 'rm -rf "$results"' EXIT

# The value of a user counter ("rows_per_second") of one benchmark in Google Benchmark's
# JSON output; empty when the benchmark did not run.
counter() {
    "$python" - "$1" "$2" "$3" <<'PY'
import json, sys
path, name, key = sys.argv[1:]
try:
    with open(path) as f:
        data = json.load(f)
except (OSError, ValueError):
    sys.exit(0)
for entry in data.get("benchmarks", []):
    if entry.get("name", "").startswith(name + "/") or entry.get("name") == name:
        if key in entry and not entry.get("error_occurred"):
            print(entry[key])
            break
PY
}

import_bench="$build/bench/bench_import"
export_bench="$build/bench/bench_vcard_export"
first="" second="" exported=""
if [[ -x "$import_bench" ]]; then
    echo "== bench_import (two imports of 100,000 rows; this takes a while)" >&2
    "$import_bench" --benchmark_out="$results/import.json" --benchmark_out_format=json >&2
    first="$(counter "$results/import.json" BM_ImportIntoEmptyStore rows_per_second)"
    second="$(counter "$results/import.json" BM_ImportIntoFilledStore rows_per_second)"
else
    echo "== no $import_bench; skipped" >&2
fi
if [[ -x "$export_bench" ]]; then
    echo "== bench_vcard_export" >&2
    "$export_bench" --benchmark_filter='BM_GroupVCardExport/' \
        --benchmark_out="$results/export.json" --benchmark_out_format=json >&2
    exported="$(counter "$results/export.json" BM_GroupVCardExport contacts_per_second)"
else
    echo "== no $export_bench; skipped" >&2
fi

echo "== python3-vobject, $cards vCards" >&2
vobject_rate="$("$python" - "$cards" <<'PY'
import sys, time
import vobject

count = int(sys.argv[1])
start = time.perf_counter()
out = []
for number in range(count):
    card = vobject.vCard()
    card.add("n").value = vobject.vcard.Name(family="Berg%d" % number, given="Anna")
    card.add("fn").value = "Anna Berg%d" % number
    email = card.add("email")
    email.value = "contact%d@example.com" % number
    email.type_param = "INTERNET"
    card.add("tel").value = "+49 30 %07d" % number
    card.add("adr").value = vobject.vcard.Address(street="Hauptstraße %d" % (number % 250),
                                                 city="Berlin", code="10115", country="Germany")
    card.add("bday").value = "1980-03-%02d" % (1 + number % 28)
    out.append(card.serialize())
elapsed = time.perf_counter() - start
print(count / elapsed)
PY
)"

format() { [[ -n "$1" ]] && printf "%.0f" "$1" || printf "n/a"; }
ratio="n/a"
if [[ -n "$first" && -n "$second" ]]; then
    ratio="$("$python" -c "print(f'{$first / $second:.2f}')")"
fi

printf "\n%-48s %16s\n" "figure" "value"
printf "%-48s %16s\n" "import into an empty address book (rows/s)" "$(format "$first")"
printf "%-48s %16s\n" "same rows into the filled address book (rows/s)" "$(format "$second")"
printf "%-48s %16s\n" "second run slower by (first/second, goal <= 1.5)" "$ratio"
printf "%-48s %16s\n" "group vCard export (contacts/s)" "$(format "$exported")"
printf "%-48s %16s\n" "python3-vobject, simple vCards (contacts/s)" "$(format "$vobject_rate")"
