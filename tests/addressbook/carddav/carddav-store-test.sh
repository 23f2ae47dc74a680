#!/usr/bin/env bash
# Runs the CardDAV store's and the HTTP client's tests against real servers on 127.0.0.1: a
# throwaway Radicale over TLS (carddav-server.sh) and a misbehaving one (junk-server.py). The
# tests find them through PELKORA_TEST_CARDDAV_* variables and skip without them.
#   carddav-store-test.sh PROGRAM [GTEST ARGUMENTS]
# Exits 77 (skipped) when Radicale cannot start.
set -uo pipefail
program=$1
shift
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
junk=
cleanup() {
    [[ -n "$junk" ]] && kill "$junk" 2>/dev/null && wait "$junk" 2>/dev/null
    bash "$here/carddav-server.sh" stop "$work/server" >/dev/null 2>&1
    rm -rf "$work"
}
trap cleanup EXIT

bash "$here/carddav-server.sh" start "$work/server"
status=$?
[[ $status -ne 0 ]] && exit "$status"
# shellcheck disable=SC1091
source "$work/server/server.env"

/usr/bin/python3 "$here/junk-server.py" 0 --auth-log "$work/auth.log" >"$work/junk.ports" &
junk=$!
for _ in $(seq 100); do
    [[ $(wc -l <"$work/junk.ports") -ge 2 ]] && break
    sleep 0.1
done
if [[ $(wc -l <"$work/junk.ports") -lt 2 ]]; then
    echo "the junk server did not start" >&2
    exit 1
fi

export PELKORA_TEST_CARDDAV_URL="$CARDDAV_URL"
export PELKORA_TEST_CARDDAV_CA="$CARDDAV_CA"
export PELKORA_TEST_CARDDAV_OTHER_CA="$CARDDAV_OTHER_CA"
export PELKORA_TEST_CARDDAV_SERVER="bash $here/carddav-server.sh"
export PELKORA_TEST_CARDDAV_SERVER_DIR="$work/server"
export PELKORA_TEST_JUNK_URL="http://127.0.0.1:$(head -1 "$work/junk.ports")/"
export PELKORA_TEST_JUNK_AUTH_LOG="$work/auth.log"
"$program" "$@"
