#!/usr/bin/env bash
# Runs the keyring tests of the test program given against a private Secret Service: a session
# bus of its own and gnome-keyring-daemon keeping its keyring in a temporary home, so that the
# user's keyring is never touched. Both daemons are stopped at the end. Exits 77 (skipped) when
# they cannot be started.
#   secret-store-test.sh PROGRAM
set -uo pipefail
program=$1

for tool in dbus-daemon dbus-send gnome-keyring-daemon; do
  if ! command -v "$tool" >/dev/null; then
    echo "secret-store-test.sh: $tool is not installed; skipping" >&2
    exit 77
  fi
done

home=$(mktemp -d)
bus_pid=""
keyring_pid=""
cleanup() {
  [ -n "$keyring_pid" ] && kill "$keyring_pid" 2>/dev/null
  [ -n "$bus_pid" ] && kill "$bus_pid" 2>/dev/null
  wait 2>/dev/null
  rm -rf "$home"
}
trap cleanup EXIT

export HOME=$home XDG_DATA_HOME=$home/data XDG_CONFIG_HOME=$home/config \
  XDG_CACHE_HOME=$home/cache XDG_RUNTIME_DIR=$home/run
mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"

if ! bus=$(dbus-daemon --session --fork --print-address=1 --print-pid=1); then
  echo "secret-store-test.sh: no session bus could be started; skipping" >&2
  exit 77
fi
DBUS_SESSION_BUS_ADDRESS=$(sed -n 1p <<<"$bus")
bus_pid=$(sed -n 2p <<<"$bus")
export DBUS_SESSION_BUS_ADDRESS

gnome-keyring-daemon --foreground --unlock --components=secrets \
  < <(printf 'keyring-test') >"$home/keyring.log" 2>&1 &
keyring_pid=$!
ready=false
for _ in $(seq 1 100); do
  if dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
    org.freedesktop.DBus.NameHasOwner string:org.freedesktop.secrets 2>/dev/null |
    grep -q "boolean true"; then
    ready=true
    break
  fi
  sleep 0.1
done
if ! $ready; then
  echo "secret-store-test.sh: gnome-keyring-daemon did not start: $(cat "$home/keyring.log"); skipping" >&2
  exit 77
fi

PELKORA_TEST_KEYRING=1 "$program" --gtest_filter='SecretStore*'
