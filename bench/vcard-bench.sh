#!/usr/bin/env bash
# Prints the vCard scan and import figures of the pelkora command side by side, on one file of
# realistic cards (bench/generate-vcards.py: Apple, Google, Thunderbird and Android exports
# taking turns). Builds nothing: it runs the pelkora of a benchmark build
# (cmake --preset bench && cmake --build --preset bench --target pelkora).
#
#   - counting the cards: `pelkora scan` against `grep -c BEGIN:VCARD` (goal: within 2×) and
#     python3-vobject reading every card (vobject.readComponents);
#   - `pelkora import` into an empty address book, then the same file again into the filled
#     one, with duplicates detected as the settings say by default (goal: the second at most
#     1.5× the first), in cards/s;
#   - the peak memory (maximum resident set, /usr/bin/time) of the scan and of the import
#     against the file's size (goal: below 2×), also above what a scan of one card takes
#     (the start-up every session command pays: ICU, the column-title vocabulary …).
#
# Times are wall-clock seconds of the whole command (start-up included), the best of three
# runs for the quick ones, after the file has been read once into the page cache. Settings,
# runtime log and address books live in a temporary folder.
#
# Environment:
#   PELKORA_BUILD_DIR   the build folder (default build/bench)
#   PELKORA_VCARDS      cards in the file (default 100000)
#   PELKORA_VOBJECT     0 leaves out python3-vobject, which takes a minute for 100,000 cards
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${PELKORA_BUILD_DIR:-$root/build/bench}"
[[ "$build" = /* ]] || build="$root/$build"
cards="${PELKORA_VCARDS:-100000}"
python=/usr/bin/python3
pelkora="$build/apps/cli/pelkora"
if [[ ! -x "$pelkora" ]]; then
    echo "no $pelkora: cmake --preset bench && cmake --build --preset bench --target pelkora" >&2
    exit 1
fi
if [[ ! -x /usr/bin/time ]]; then
    echo "no /usr/bin/time: apt-get install time (scripts/install-deps --tests)" >&2
    exit 1
fi

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
export XDG_CONFIG_HOME="$work/config" XDG_STATE_HOME="$work/state" XDG_DATA_HOME="$work/data"
export XDG_CACHE_HOME="$work/cache" LC_ALL=C.UTF-8
file="$work/cards.vcf"
echo "== writing $cards vCards" >&2
"$python" "$root/bench/generate-vcards.py" "$cards" "$file"
bytes="$(stat -c %s "$file")"
cat "$file" >/dev/null

# seconds COMMAND...: runs the command once, its output thrown away; prints the wall-clock
# seconds and leaves the peak memory in KiB in $work/peak.
seconds() {
    local start end
    start="$(date +%s%N)"
    /usr/bin/time -f %M -o "$work/peak" "$@" >"$work/out" 2>"$work/err" || {
        echo "failed: $*" >&2
        cat "$work/err" >&2
        exit 1
    }
    end="$(date +%s%N)"
    "$python" -c "print(($end - $start) / 1e9)"
}

# best COMMAND...: the least of three runs' seconds; $work/peak holds the largest peak.
best() {
    local least="" run peak=0
    for _ in 1 2 3; do
        run="$(seconds "$@")"
        peak=$(( $(cat "$work/peak") > peak ? $(cat "$work/peak") : peak ))
        least="$("$python" -c "print(min(float('$run'), float('${least:-$run}')))")"
    done
    echo "$peak" >"$work/peak"
    echo "$least"
}

# What every session command costs before it reads a card (ICU, the column-title vocabulary,
# the date formats): a scan of a file of one card.
head -c "$(grep -b -m1 '^END:VCARD' "$file" | cut -d: -f1)" "$file" >"$work/one.vcf"
echo "END:VCARD" >>"$work/one.vcf"
echo "== pelkora scan of one card (start-up)" >&2
startup_seconds="$(best "$pelkora" scan "$work/one.vcf")"
startup_peak="$(cat "$work/peak")"

echo "== grep -c BEGIN:VCARD" >&2
grep_seconds="$(best grep -c BEGIN:VCARD "$file")"
echo "== pelkora scan" >&2
scan_seconds="$(best "$pelkora" scan "$file")"
scan_peak="$(cat "$work/peak")"
found="$(tail -1 "$work/out")"

vobject_seconds=""
if [[ "${PELKORA_VOBJECT:-1}" != 0 ]]; then
    echo "== python3-vobject reading every card (about a minute)" >&2
    vobject_seconds="$(seconds "$python" -c '
import sys, vobject
with open(sys.argv[1], encoding="utf-8") as stream:
    count = sum(1 for _ in vobject.readComponents(stream))
print(count)' "$file")"
fi

echo "== pelkora import into an empty address book" >&2
first_seconds="$(seconds "$pelkora" import --store "$work/book.sqlite" --json "$file")"
import_peak="$(cat "$work/peak")"
added="$("$python" -c 'import json, sys; print(json.load(open(sys.argv[1]))["contactsAdded"])' "$work/out")"
echo "== pelkora import of the same file into the filled address book" >&2
second_seconds="$(seconds "$pelkora" import --store "$work/book.sqlite" --json "$file")"
second_peak="$(cat "$work/peak")"
duplicates="$("$python" -c 'import json, sys; s = json.load(open(sys.argv[1])); print(s["oldDuplicates"], s["newDuplicates"])' "$work/out")"
import_peak=$(( second_peak > import_peak ? second_peak : import_peak ))

"$python" - "$cards" "$bytes" "$grep_seconds" "$scan_seconds" "$scan_peak" "${vobject_seconds:-nan}" \
    "$first_seconds" "$second_seconds" "$import_peak" "$found" "$added" "$duplicates" \
    "$startup_seconds" "$startup_peak" <<'PY'
import math, sys
(cards, size, grep, scan, scan_peak, vobject, first, second, import_peak, found, added,
 duplicates, startup, startup_peak) = sys.argv[1:]
cards, size = int(cards), int(size)
grep, scan, vobject, first, second, startup = map(float, (grep, scan, vobject, first, second,
                                                         startup))
scan_peak, import_peak, startup_peak = int(scan_peak), int(import_peak), int(startup_peak)
mib = size / 2**20


def memory(peak):
    return (f"{peak / 1024:.0f} ({peak * 1024 / size:.2f}x the file; above start-up "
            f"{(peak - startup_peak) / 1024:.0f}, {(peak - startup_peak) * 1024 / size:.2f}x)")


rows = [
    ("cards in the file", f"{cards:,} ({mib:.1f} MiB)"),
    ("grep -c BEGIN:VCARD (s)", f"{grep:.3f}"),
    ("pelkora scan (s)", f"{scan:.3f}"),
    ("  start-up: scan of one card (s)", f"{startup:.3f}"),
    ("  scan / grep (goal <= 2)", f"{scan / grep:.1f}"),
    ("  scan without start-up / grep", f"{(scan - startup) / grep:.1f}"),
    ("  scan says", found),
    ("python3-vobject readComponents (s)",
     "n/a" if math.isnan(vobject) else f"{vobject:.1f} ({cards / vobject:,.0f} cards/s)"),
    ("import into an empty book (s)", f"{first:.1f} ({cards / first:,.0f} cards/s)"),
    ("  contacts added", added),
    ("same file into the filled book (s)", f"{second:.1f} ({cards / second:,.0f} cards/s)"),
    ("  old / new duplicates", duplicates.replace(" ", " / ")),
    ("  second / first (goal <= 1.5)", f"{second / first:.2f}"),
    ("peak memory of start-up (MiB)", f"{startup_peak / 1024:.0f}"),
    ("peak memory of scan (MiB, goal < 2x)", memory(scan_peak)),
    ("peak memory of import (MiB, goal < 2x)", memory(import_peak)),
]
print()
for name, value in rows:
    print(f"{name:<42} {value}")
PY
