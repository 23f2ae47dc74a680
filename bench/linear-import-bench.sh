#!/usr/bin/env bash
# Whether an import grows linearly: the same generated table at ROWS and at ten times ROWS,
# each imported by the pelkora command into a new SQLite book, timed with its peak memory.
# Prints rows/s for both, the time ratio (linear: 10; the goal is at most 11) and the larger
# run's peak memory against twice its file's size plus 200 MiB (the goal is at most 1).
# Builds nothing: it runs the pelkora of a benchmark build (cmake --preset bench, then build
# the target pelkora). Your own settings, journal and address books are never touched.
#
#   bench/linear-import-bench.sh [ROWS]        (default 100000, and so 1,000,000)
# Environment: PELKORA_BUILD_DIR, the build folder (default build/bench).
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${PELKORA_BUILD_DIR:-$root/build/bench}"
[[ "$build" = /* ]] || build="$root/$build"
pelkora="$build/apps/cli/pelkora"
rows="${1:-100000}"
[ -x "$pelkora" ] || { echo "no $pelkora: build the target pelkora first" >&2; exit 2; }
[ -x /usr/bin/time ] || { echo "no /usr/bin/time (the package time)" >&2; exit 2; }

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
export XDG_CONFIG_HOME="$work/config" XDG_DATA_HOME="$work/data" XDG_STATE_HOME="$work/state"
export XDG_CACHE_HOME="$work/cache"

# The generator of bench/README.md's tables: 20 columns, quoted fields, non-ASCII names.
generate() { # rows output
    local megabytes=$(( ($1 * 288 + 999999) / 1000000 ))
    /usr/bin/python3 "$root/bench/generate-contacts-csv.py" "$2" --size "${megabytes}M" >/dev/null
}

run() { # label file: prints "rows seconds peak-KiB"
    local book="$work/$1.sqlite" counted
    /usr/bin/time -f '%e %M' -o "$work/$1.time" \
        "$pelkora" import --json --store "sqlite:$book" "$2" >"$work/$1.json" 2>"$work/$1.err" ||
        { cat "$work/$1.err" >&2; return 1; }
    counted=$(/usr/bin/python3 -c 'import json, sys; print(json.load(open(sys.argv[1]))["rows"])' \
        "$work/$1.json")
    echo "$counted $(cat "$work/$1.time")"
}

generate "$rows" "$work/small.csv"
generate "$((rows * 10))" "$work/large.csv"
read -r small_rows small_seconds small_peak < <(run small "$work/small.csv") || exit 1
read -r large_rows large_seconds large_peak < <(run large "$work/large.csv") || exit 1
large_bytes=$(stat -c %s "$work/large.csv")

/usr/bin/python3 - "$small_rows" "$small_seconds" "$small_peak" "$large_rows" "$large_seconds" \
    "$large_peak" "$large_bytes" <<'PY'
import sys
small_rows, small_s, small_kib, large_rows, large_s, large_kib, large_bytes = map(float, sys.argv[1:])
print(f"{'table':<8} {'rows':>10} {'seconds':>9} {'rows/s':>9} {'peak MiB':>9}")
print(f"{'small':<8} {small_rows:>10.0f} {small_s:>9.2f} {small_rows / small_s:>9.0f} {small_kib / 1024:>9.0f}")
print(f"{'large':<8} {large_rows:>10.0f} {large_s:>9.2f} {large_rows / large_s:>9.0f} {large_kib / 1024:>9.0f}")
scale = large_rows / small_rows
print(f"\ntime ratio {large_s / small_s:.2f} for {scale:.1f}x the rows (linear: {scale:.1f}; goal at most 1.1x that)")
budget = 2 * large_bytes + 200 * 1024 * 1024
print(f"peak memory {large_kib * 1024 / budget:.2f} of twice the file ({large_bytes / 1048576:.0f} MiB) "
      f"plus 200 MiB (goal at most 1)")
PY
