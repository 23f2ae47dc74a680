#!/usr/bin/env bash
# Compares the text reader with reference CSV readers on one generated contact file, in one
# run, and prints a table with the ratios the reader is held to:
#
#   - ours: bench_text_reader (examination + full parse into rows), on the UTF-8 file and on
#     the same content as UTF-16LE;
#   - Python: list(csv.reader(f)) with /usr/bin/python3, every row in memory like ours;
#   - libcsv: a small C program built here that counts fields and rows with Debian's libcsv
#     (a streaming parser that keeps nothing: the speed to beat, not the same work);
#   - csvtool: Debian's csvtool counting rows;
#   - wc -l: reading the bytes once, the floor any reader sits on.
#
# The file is read once before timing so every tool reads it from the page cache. Ratios use
# wall time; the CPU-time ratios are printed too, as they suffer less when other work shares
# the machine.
#
# Environment:
#   PELKORA_COMPARE_SIZE   content size for generate-contacts-csv.py (default 100M)
#   PELKORA_COMPARE_DIR    where the generated files and helpers go (default /tmp/pelkora-compare)
#   PELKORA_BUILD_DIR      a build folder to use instead of the bench preset's build/bench;
#                          it is configured as a Release build with benchmarks when missing
#   PELKORA_BENCH_PARSE_ITERATIONS  parses per file in bench_text_reader (default 2)
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
size="${PELKORA_COMPARE_SIZE:-100M}"
work="${PELKORA_COMPARE_DIR:-/tmp/pelkora-compare}"
python=/usr/bin/python3
mkdir -p "$work"

echo "== building bench_text_reader" >&2
if [[ -n "${PELKORA_BUILD_DIR:-}" ]]; then
    build="$PELKORA_BUILD_DIR"
    [[ "$build" = /* ]] || build="$root/$build"
    if [[ ! -f "$build/CMakeCache.txt" ]]; then
        cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
            -DPELKORA_BUILD_BENCH=ON -DPELKORA_BUILD_TESTS=OFF >&2
    fi
    cmake --build "$build" --target bench_text_reader >&2
else
    build="$root/build/bench"
    (cd "$root" && cmake --preset bench >&2 &&
        cmake --build --preset bench --target bench_text_reader >&2)
fi
bench="$build/bench/bench_text_reader"

echo "== generating $size of contacts in $work" >&2
utf8="$work/contacts-$size-utf8.csv"
utf16="$work/contacts-$size-utf16le.csv"
# Generation is deterministic, so a file left by an earlier run is reused; it is written under
# another name first so that an interrupted run leaves no partial file behind.
generate() {
    local output="$1"
    shift
    [[ -s "$output" ]] && return
    "$python" "$root/bench/generate-contacts-csv.py" "$output.partial" --size "$size" "$@"
    mv "$output.partial" "$output"
}
generate "$utf8"
generate "$utf16" --encoding utf-16le

echo "== building the libcsv field counter" >&2
cat >"$work/libcsv-count.c" <<'EOF'
/* Counts the fields and rows of a CSV file with libcsv, reading 64 KiB at a time. */
#include <csv.h>
#include <stdio.h>
#include <stdlib.h>

static unsigned long fields, rows;

static void on_field(void *data, size_t length, void *counts) {
    (void)data; (void)length; (void)counts;
    ++fields;
}

static void on_row(int terminator, void *counts) {
    (void)terminator; (void)counts;
    ++rows;
}

int main(int argc, char **argv) {
    static char buffer[1 << 16];
    struct csv_parser parser;
    FILE *file = argc == 2 ? fopen(argv[1], "rb") : NULL;
    size_t count;
    if (!file || csv_init(&parser, CSV_APPEND_NULL) != 0) return 1;
    while ((count = fread(buffer, 1, sizeof buffer, file)) > 0) {
        if (csv_parse(&parser, buffer, count, on_field, on_row, NULL) != count) {
            fprintf(stderr, "libcsv: %s\n", csv_strerror(csv_error(&parser)));
            return 1;
        }
    }
    csv_fini(&parser, on_field, on_row, NULL);
    csv_free(&parser);
    printf("%lu rows, %lu fields\n", rows, fields);
    return 0;
}
EOF
cc -O2 -o "$work/libcsv-count" "$work/libcsv-count.c" -lcsv

cat "$utf8" "$utf16" >/dev/null

# Runs a command and prints "wall-seconds cpu-seconds peak-KiB": wall time from bash's clock
# (GNU time rounds to 10 ms), user + system time and peak resident set from GNU time.
timed() {
    local out="$1" start end
    shift
    start=$EPOCHREALTIME
    /usr/bin/time -f '%U %S %M' -o "$out.time" "$@" >"$out" 2>"$out.err"
    end=$EPOCHREALTIME
    # GNU time puts a line about a failed exit status before its own.
    read -r user system peak < <(tail -n 1 "$out.time")
    "$python" -c "print(${end/,/.} - ${start/,/.}, $user + $system, $peak)"
}

echo "== bench_text_reader on UTF-8" >&2
"$bench" "$utf8" --benchmark_out="$work/ours-utf8.json" --benchmark_out_format=json \
    2>"$work/ours-utf8.err" | tee "$work/ours-utf8.txt" >&2
echo "== bench_text_reader on UTF-16LE" >&2
"$bench" "$utf16" --benchmark_out="$work/ours-utf16.json" --benchmark_out_format=json \
    2>"$work/ours-utf16.err" | tee "$work/ours-utf16.txt" >&2
cat "$work/ours-utf8.err" "$work/ours-utf16.err" >&2

echo "== Python csv" >&2
"$python" - "$utf8" >"$work/python.txt" <<'EOF'
import csv, resource, sys, time
start, cpu_start = time.perf_counter(), time.process_time()
with open(sys.argv[1], newline="", encoding="utf-8") as f:
    rows = list(csv.reader(f))
seconds, cpu = time.perf_counter() - start, time.process_time() - cpu_start
peak = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
print(seconds, cpu, peak, len(rows), sum(len(row) for row in rows))
EOF

echo "== libcsv, csvtool, wc -l" >&2
read -r libcsv_s libcsv_cpu libcsv_kib < <(timed "$work/libcsv.out" "$work/libcsv-count" "$utf8")
read -r csvtool_s csvtool_cpu csvtool_kib < <(timed "$work/csvtool.out" csvtool height "$utf8")
read -r wc_s wc_cpu wc_kib < <(timed "$work/wc.out" wc -l "$utf8")
echo "libcsv: $(cat "$work/libcsv.out"); csvtool height: $(cat "$work/csvtool.out")" >&2

"$python" - "$utf8" "$utf16" "$work" "$libcsv_s" "$libcsv_cpu" "$libcsv_kib" "$csvtool_s" \
    "$csvtool_cpu" "$csvtool_kib" "$wc_s" "$wc_cpu" "$wc_kib" <<'EOF'
import json, os, sys

utf8, utf16, work = sys.argv[1:4]
(libcsv_s, libcsv_cpu, libcsv_kib, csvtool_s, csvtool_cpu, csvtool_kib, wc_s, wc_cpu,
 wc_kib) = map(float, sys.argv[4:13])
size8, size16 = os.path.getsize(utf8), os.path.getsize(utf16)


def ours(name):
    with open(os.path.join(work, f"ours-{name}.json")) as f:
        runs = {b["name"].split("/")[0]: b for b in json.load(f)["benchmarks"]}
    examine, parse = runs["BM_ExamineFile"], runs["BM_ExamineAndParseFile"]
    # Times are in milliseconds (the benchmark's unit); the parse run includes examination.
    return {"examine": examine["real_time"] / 1000, "parse": parse["real_time"] / 1000,
            "examine_cpu": examine["cpu_time"] / 1000, "parse_cpu": parse["cpu_time"] / 1000,
            "rows": parse["rows"], "fields": parse["fields"],
            "peak_mib": parse["peakRSS_MiB"], "held_mib": parse["heldRSS_MiB"]}


o8, o16 = ours("utf8"), ours("utf16")
with open(os.path.join(work, "python.txt")) as f:
    py_s, py_cpu, py_kib, py_rows, py_fields = map(float, f.read().split())

mib = 1024 * 1024
table = [
    ("ours examine+parse, UTF-8", o8["parse"], o8["parse_cpu"], size8, o8["peak_mib"] * mib),
    ("ours examine+parse, UTF-16LE", o16["parse"], o16["parse_cpu"], size16,
     o16["peak_mib"] * mib),
    ("ours examine only, UTF-8", o8["examine"], o8["examine_cpu"], min(size8, 524288), None),
    ("Python csv, list(reader)", py_s, py_cpu, size8, py_kib * 1024),
    ("libcsv field count (C)", libcsv_s, libcsv_cpu, size8, libcsv_kib * 1024),
    ("csvtool height", csvtool_s, csvtool_cpu, size8, csvtool_kib * 1024),
    ("wc -l (I/O floor)", wc_s, wc_cpu, size8, wc_kib * 1024),
]
print(f"\nFile: {utf8} ({size8 / 1e6:.1f} MB), UTF-16LE copy {size16 / 1e6:.1f} MB")
print(f"Rows: ours {o8['rows']:.0f} (UTF-16LE {o16['rows']:.0f}), Python {py_rows:.0f}; "
      f"fields: ours {o8['fields']:.0f}, Python {py_fields:.0f}\n")
print(f"{'tool':<32}{'seconds':>10}{'CPU s':>10}{'MB/s':>10}{'peak RSS MiB':>14}")
for name, seconds, cpu, nbytes, peak in table:
    rate = nbytes / 1e6 / seconds if seconds > 0 else float("inf")
    peak_text = f"{peak / mib:.1f}" if peak is not None else "-"
    print(f"{name:<32}{seconds:>10.3f}{cpu:>10.3f}{rate:>10.1f}{peak_text:>14}")


def ratio(name, value, goal, better_high, stretch=None):
    ok = value >= goal if better_high else value <= goal
    sign = ">=" if better_high else "<="
    extra = ""
    if stretch is not None:
        extra = f", stretch {sign} {stretch:g}: " + ("met" if value >= stretch else "not met")
    print(f"{name:<44}{value:>8.3f}   goal {sign} {goal:g}: {'met' if ok else 'MISSED'}{extra}")


print()
ratio("ours vs Python (Python time / ours)", py_s / o8["parse"], 5, True)
ratio("ours vs libcsv (libcsv time / ours)", libcsv_s / o8["parse"], 1, True, 3)
# CPU time is steadier than wall time on a machine busy with other work.
ratio("ours vs Python, CPU time", py_cpu / o8["parse_cpu"], 5, True)
ratio("ours vs libcsv, CPU time", libcsv_cpu / o8["parse_cpu"], 1, True, 3)
ratio("UTF-16LE time / UTF-8 time", o16["parse"] / o8["parse"], 1.5, False)
ratio("examination time / examine+parse time", o8["examine"] / o8["parse"], 0.10, False)
ratio("peak RSS / file size, UTF-8", o8["peak_mib"] * mib / size8, 2, False)
ratio("peak RSS / file size, UTF-16LE file", o16["peak_mib"] * mib / size16, 2, False)
print(f"\nRows held after the parse: {o8['held_mib']:.1f} MiB resident (UTF-8), "
      f"{o16['held_mib']:.1f} MiB (UTF-16LE); Python peak {py_kib / 1024:.1f} MiB.")
EOF
