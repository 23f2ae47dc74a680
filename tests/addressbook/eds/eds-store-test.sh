#!/usr/bin/env bash
# Runs the EDS store's tests: in a private EDS, and the unreachable case in a process without
# any session bus. Exits 77 (skipped) when EDS cannot be started.
#   eds-store-test.sh PROGRAM
set -uo pipefail
program=$1
here=$(dirname "$0")
# Under AddressSanitizer: leaks of EDS's own are not reported. GLib is built without frame
# pointers, so only the slow unwinder sees the EDS function a leak comes from.
export LSAN_OPTIONS="${LSAN_OPTIONS:+$LSAN_OPTIONS:}suppressions=$here/lsan-suppressions.txt"
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}fast_unwind_on_malloc=0"

bash "$here/private-eds.sh" "$program" --gtest_filter='EdsContactStoreTest.*'
status=$?
[ "$status" -ne 0 ] && exit "$status"

# GLib also finds a bus at $XDG_RUNTIME_DIR/bus: point it at an empty folder.
runtime=$(mktemp -d)
trap 'rm -rf "$runtime"' EXIT
env -u DBUS_SESSION_BUS_ADDRESS XDG_RUNTIME_DIR="$runtime" PELKORA_TEST_EDS_NO_BUS=1 \
  "$program" --gtest_filter='EdsContactStoreUnreachableTest.*'
