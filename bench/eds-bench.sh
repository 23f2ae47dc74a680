#!/usr/bin/env bash
# Times saving contacts to Evolution Data Server (bench_eds_contact_store) in a private EDS,
# so that the user's address books are never touched.
#   bench/eds-bench.sh [BUILD_DIR] [COUNT]     (build/bench and 10,000 by default)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-$here/../build/bench}
exec bash "$here/../tests/addressbook/eds/private-eds.sh" "$build/bench/bench_eds_contact_store" "${2:-10000}"
