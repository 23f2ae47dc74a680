#!/usr/bin/env bash
# Compares the workbook reader with reference xlsx readers on one generated contact workbook
# (100,000 rows × 20 columns of shared strings, written with libxlsxwriter by
# excel_read_driver --generate), in one run, and prints a table:
#
#   - ours: excel_read_driver (open, examine, parse the sheet into rows held in memory), wall
#     time and peak resident set from /usr/bin/time -v;
#   - openpyxl: /usr/bin/python3 with openpyxl in read-only mode iterating every cell's value;
#   - xlsx2csv: Debian's xlsx2csv converting the sheet to CSV (output discarded);
#   - unzip -p: inflating the sheet's XML alone (output discarded), the floor of any reader;
#     the in-process inflate time of the same part (excel_read_driver --inflate) is shown too.
#
# Ratios use wall time of the best of PELKORA_COMPARE_RUNS runs (default 3; openpyxl runs once,
# it takes long), since the machine may be shared.
#
# Environment:
#   PELKORA_COMPARE_ROWS  contact rows (default 100000)
#   PELKORA_COMPARE_DIR   where the workbook goes (default /tmp/pelkora-compare-xlsx)
#   PELKORA_BUILD_DIR     a build folder to use instead of the bench preset's build/bench
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
rows="${PELKORA_COMPARE_ROWS:-100000}"
work="${PELKORA_COMPARE_DIR:-/tmp/pelkora-compare-xlsx}"
runs="${PELKORA_COMPARE_RUNS:-3}"
python=/usr/bin/python3
mkdir -p "$work"

echo "== building excel_read_driver" >&2
if [[ -n "${PELKORA_BUILD_DIR:-}" ]]; then
    build="$PELKORA_BUILD_DIR"
    [[ "$build" = /* ]] || build="$root/$build"
    if [[ ! -f "$build/CMakeCache.txt" ]]; then
        cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
            -DPELKORA_BUILD_BENCH=ON -DPELKORA_BUILD_TESTS=OFF >&2
    fi
    cmake --build "$build" -j2 --target excel_read_driver >&2
else
    build="$root/build/bench"
    (cd "$root" && cmake --preset bench >&2 &&
        cmake --build --preset bench -j2 --target excel_read_driver >&2)
fi
driver="$build/bench/excel_read_driver"

book="$work/contacts-$rows.xlsx"
if [[ ! -s "$book" ]]; then
    echo "== generating $book" >&2
    "$driver" --generate "$book.partial.xlsx" "$rows"
    mv "$book.partial.xlsx" "$book"
fi
cat "$book" >/dev/null

# Runs a command and prints "wall_seconds peak_kib" from /usr/bin/time -v.
measure() {
    local log="$work/time.log"
    /usr/bin/time -v "$@" >"$work/out.txt" 2>"$log"
    local wall peak
    wall="$(awk -F': ' '/Elapsed \(wall clock\)/ {print $2}' "$log" |
        awk -F: '{ if (NF == 3) print $1*3600 + $2*60 + $3; else print $1*60 + $2 }')"
    peak="$(awk -F': ' '/Maximum resident set size/ {print $2}' "$log")"
    echo "$wall $peak"
}

# The best (lowest wall time) of several runs.
best_of() {
    local count="$1"
    shift
    local best="" result
    for ((run = 0; run < count; ++run)); do
        result="$(measure "$@")"
        if [[ -z "$best" ]] || awk -v a="${result%% *}" -v b="${best%% *}" 'BEGIN{exit !(a<b)}'; then
            best="$result"
        fi
    done
    echo "$best"
}

cat >"$work/openpyxl-read.py" <<'PY'
import sys
from openpyxl import load_workbook
book = load_workbook(sys.argv[1], read_only=True)
cells = 0
for row in book.worksheets[0].iter_rows(values_only=True):
    for value in row:
        if value is not None:
            cells += 1
print(cells)
PY

echo "== timing" >&2
ours="$(best_of "$runs" "$driver" "$book")"
cells="$(awk '{print $1}' "$work/out.txt")"
inflate_in_process="$("$driver" --inflate "$book" | awk '{print $2}')"
sheet_bytes="$("$driver" --inflate "$book" | awk '{print $1}')"
unzip_result="$(best_of "$runs" sh -c "unzip -p '$book' xl/worksheets/sheet1.xml > /dev/null")"
xlsx2csv_result="$(best_of 1 sh -c "xlsx2csv '$book' > /dev/null")"
openpyxl_result="$(best_of 1 "$python" "$work/openpyxl-read.py" "$book")"

row() {
    local name="$1" result="$2"
    local wall="${result%% *}" peak="${result##* }"
    awk -v name="$name" -v wall="$wall" -v peak="$peak" -v cells="$cells" -v ours="${ours%% *}" \
        'BEGIN { printf "%-22s %9.3f s %12.0f cells/s %9.1f MiB %8.1fx ours\n",
                 name, wall, cells / wall, peak / 1024, wall / ours }'
}

echo
echo "workbook: $book ($cells cells, sheet XML $((sheet_bytes / 1048576)) MiB)"
printf "%-22s %11s %18s %13s %13s\n" "reader" "wall" "speed" "peak RSS" "time ratio"
row "pelkora ExcelReader" "$ours"
row "openpyxl read-only" "$openpyxl_result"
row "xlsx2csv" "$xlsx2csv_result"
row "unzip -p sheet1.xml" "$unzip_result"
awk -v inflate="$inflate_in_process" -v ours="${ours%% *}" \
    'BEGIN { printf "%-22s %9.3f s %34s %8.1fx ours\n", "inflate in process", inflate, "", inflate / ours }'
awk -v peak="${ours##* }" -v bytes="$sheet_bytes" \
    'BEGIN { printf "\npeak RSS of ours is %.0f%% of the inflated sheet XML\n", 100 * peak * 1024 / bytes }'
