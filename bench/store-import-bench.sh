#!/usr/bin/env bash
# Imports one generated table into each address-book backend with the pelkora command, twice
# (the second time every row is a duplicate of the first), and prints rows/s and how many
# times slower the second import is:
#   sqlite:  a Pelkora book in a temporary file;
#   vdir:    a temporary folder of vCard files;
#   eds:     the local address book of a private Evolution Data Server
#            (tests/addressbook/eds/private-eds.sh; skipped when EDS cannot start).
# Builds nothing: it runs the pelkora of a benchmark build (cmake --preset bench, then build
# the target pelkora). Your own settings, journal and address books are never touched.
#
#   bench/store-import-bench.sh [ROWS]        (default 100000)
# Environment: PELKORA_BUILD_DIR, the build folder (default build/bench).
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${PELKORA_BUILD_DIR:-$root/build/bench}"
[[ "$build" = /* ]] || build="$root/$build"
pelkora="$build/apps/cli/pelkora"
rows="${1:-100000}"
[ -x "$pelkora" ] || { echo "no $pelkora: build the target pelkora first" >&2; exit 2; }

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
export XDG_CONFIG_HOME="$work/config" XDG_DATA_HOME="$work/data" XDG_STATE_HOME="$work/state"
export XDG_CACHE_HOME="$work/cache"

/usr/bin/python3 "$root/bench/generate-people-csv.py" "$work/people.csv" "$rows"

calc() { /usr/bin/python3 -c "print($1)"; }

# Seconds one import takes.
timed_import() {
    local start end
    start=$(date +%s.%N)
    "$@" >/dev/null
    end=$(date +%s.%N)
    calc "$end - $start"
}

report() {  # name first second
    printf '%-8s %10.0f rows/s first, %10.0f rows/s second (%.2f× slower)\n' "$1" \
        "$(calc "$rows / $2")" "$(calc "$rows / $3")" "$(calc "$3 / $2")"
}

for store in "sqlite:$work/book.sqlite" "vdir:$work/cards"; do
    first=$(timed_import "$pelkora" import --store "$store" "$work/people.csv")
    second=$(timed_import "$pelkora" import --store "$store" "$work/people.csv")
    report "${store%%:*}" "$first" "$second"
done

cat >"$work/eds.sh" <<EOF
set -e
start=\$(date +%s.%N); "$pelkora" import --store eds: "$work/people.csv" >/dev/null; middle=\$(date +%s.%N)
"$pelkora" import --store eds: "$work/people.csv" >/dev/null; end=\$(date +%s.%N)
/usr/bin/python3 -c "print(\$middle - \$start, \$end - \$middle)"
EOF
if times=$(bash "$root/tests/addressbook/eds/private-eds.sh" bash "$work/eds.sh" 2>"$work/eds.err"); then
    report eds $times
else
    echo "eds      skipped: $(tail -1 "$work/eds.err")"
fi
