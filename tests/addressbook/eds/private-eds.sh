#!/usr/bin/env bash
# Runs a command against a private Evolution Data Server: a session bus of its own, a
# temporary home and XDG folders, and the source registry and address-book factory started
# on that bus, so that the user's address books are never touched. Everything started here
# is stopped at the end. Exits 77 (skipped) when EDS cannot be started.
#   private-eds.sh COMMAND [ARGUMENT…]
# The command sees PELKORA_TEST_EDS=1.
set -uo pipefail

registry=/usr/libexec/evolution-source-registry
factory=/usr/libexec/evolution-addressbook-factory
for tool in dbus-daemon gdbus "$registry" "$factory"; do
  if ! command -v "$tool" >/dev/null; then
    echo "private-eds.sh: $tool is not installed; skipping" >&2
    exit 77
  fi
done

home=$(mktemp -d)
bus_pid=""
# Stops what the bus started for us (the registry, the factory and its backend processes),
# then the bus.
cleanup() {
  if [ -n "$bus_pid" ]; then
    local pids=()
    for name in org.gnome.evolution.dataserver.AddressBook10 org.gnome.evolution.dataserver.Sources5; do
      local pid
      pid=$(gdbus call --session --dest org.freedesktop.DBus --object-path /org/freedesktop/DBus \
        --method org.freedesktop.DBus.GetConnectionUnixProcessID "$name" 2>/dev/null |
        sed -n 's/^(uint32 \([0-9]*\),)$/\1/p')
      if [ -n "$pid" ]; then
        pids+=($(pgrep -P "$pid") "$pid")
      fi
    done
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
    kill "$bus_pid" 2>/dev/null
  fi
  rm -rf "$home"
}
trap cleanup EXIT

export HOME=$home XDG_DATA_HOME=$home/data XDG_CONFIG_HOME=$home/config \
  XDG_CACHE_HOME=$home/cache XDG_RUNTIME_DIR=$home/run
mkdir -p "$XDG_DATA_HOME" "$XDG_CONFIG_HOME" "$XDG_CACHE_HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"

# The bus reads the service files EDS installs in /usr/share/dbus-1/services and starts the
# registry and the address-book factory when they are first called.
if ! bus=$(dbus-daemon --session --fork --print-address=1 --print-pid=1); then
  echo "private-eds.sh: no session bus could be started; skipping" >&2
  exit 77
fi
DBUS_SESSION_BUS_ADDRESS=$(sed -n 1p <<<"$bus")
bus_pid=$(sed -n 2p <<<"$bus")
export DBUS_SESSION_BUS_ADDRESS

for name in org.gnome.evolution.dataserver.Sources5 org.gnome.evolution.dataserver.AddressBook10; do
  if ! answer=$(gdbus call --session --timeout 60 --dest org.freedesktop.DBus \
    --object-path /org/freedesktop/DBus --method org.freedesktop.DBus.StartServiceByName \
    "$name" 0 2>&1); then
    echo "private-eds.sh: $name could not be started on a private bus ($answer); skipping" >&2
    exit 77
  fi
done

PELKORA_TEST_EDS=1 "$@"
