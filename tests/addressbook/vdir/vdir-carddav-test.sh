#!/bin/bash
# The folder "pelkora contacts export --vdir" writes, synced by vdirsyncer to a CardDAV server
# (a throwaway Radicale on 127.0.0.1): every contact arrives once, and after a second export
# and sync the server still holds each contact once.
#
# Usage: vdir-carddav-test.sh PELKORA TABLE.csv
# Exit status 77 (a skipped test) when vdirsyncer or Radicale is missing or cannot start.
set -uo pipefail

pelkora=$1
table=$2

for program in vdirsyncer radicale; do
    if ! command -v "$program" >/dev/null; then
        echo "SKIPPED: $program is not installed (scripts/install-deps --tests)"
        exit 77
    fi
done

work=$(mktemp -d)
server=
cleanup() {
    [[ -n "$server" ]] && kill "$server" 2>/dev/null && wait "$server" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
export XDG_CONFIG_HOME="$work/config" XDG_DATA_HOME="$work/data" XDG_STATE_HOME="$work/state"
export XDG_CACHE_HOME="$work/cache" HOME="$work/home"
mkdir -p "$XDG_CONFIG_HOME" "$HOME" "$work/vdirs"

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

port=$(/usr/bin/python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
cat >"$work/radicale.conf" <<CONF
[server]
hosts = 127.0.0.1:$port
[auth]
type = none
[storage]
filesystem_folder = $work/radicale
[logging]
level = warning
CONF
radicale --config "$work/radicale.conf" >"$work/radicale.log" 2>&1 &
server=$!
for _ in $(seq 100); do
    if /usr/bin/python3 -c "import socket; socket.create_connection(('127.0.0.1', $port), 1)" 2>/dev/null; then
        break
    fi
    if ! kill -0 "$server" 2>/dev/null; then break; fi
    sleep 0.1
done
if ! /usr/bin/python3 -c "import socket; socket.create_connection(('127.0.0.1', $port), 1)" 2>/dev/null; then
    echo "SKIPPED: Radicale did not start:"
    cat "$work/radicale.log"
    exit 77
fi

mkdir -p "$XDG_CONFIG_HOME/vdirsyncer"
cat >"$XDG_CONFIG_HOME/vdirsyncer/config" <<CONF
[general]
status_path = "$work/status/"

[pair book]
a = "folder"
b = "server"
collections = ["from a"]

[storage folder]
type = "filesystem"
path = "$work/vdirs/"
fileext = ".vcf"

[storage server]
type = "carddav"
url = "http://127.0.0.1:$port/"
username = "pelkora"
password = "unused"
CONF

"$pelkora" import --store "$work/book.sqlite" "$table" >"$work/import.txt" 2>&1
check "the table is imported" 0 "$?"
rows=$(($(wc -l <"$table") - 1))
export_and_sync() {
    "$pelkora" contacts --store "$work/book.sqlite" export --vdir "$work/vdirs/book" \
        >>"$work/export.txt" 2>&1 || echo "export failed"
    # discover asks before it makes the collection on the server.
    vdirsyncer discover <<<"y" >>"$work/vdirsyncer.txt" 2>&1 || echo "discover failed"
    vdirsyncer sync >>"$work/vdirsyncer.txt" 2>&1 || echo "sync failed"
}
on_server() {
    find "$work/radicale/collection-root/pelkora" -mindepth 2 -maxdepth 2 -name '*.vcf' | wc -l
}

check "the first export and sync" "" "$(export_and_sync)"
check "the server holds every contact" "$rows" "$(on_server)"
check "the server has the names" "$(grep -h '^FN:' "$work/vdirs/book/"*.vcf | sort)" \
    "$(find "$work/radicale/collection-root/pelkora" -mindepth 2 -maxdepth 2 -name '*.vcf' \
        -exec grep -h '^FN:' {} + | sort)"
check "the second export and sync" "" "$(export_and_sync)"
check "the server still holds each contact once" "$rows" "$(on_server)"
check "the folder still holds each contact once" "$rows" \
    "$(find "$work/vdirs/book" -maxdepth 1 -name '*.vcf' ! -name '.*' | wc -l)"
if ((failures > 0)); then
    echo "--- vdirsyncer:"
    cat "$work/vdirsyncer.txt"
    echo "--- radicale:"
    cat "$work/radicale.log"
fi
exit $((failures > 0))
