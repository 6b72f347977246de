#!/usr/bin/env bash
# The log viewer on a million log rows in each database: search through the list model against the
# raw SELECT, export against sqlite3 / psql writing the same rows. Prints times, ratios and the
# longest pause of the window. Usage: bench/log/run.sh [ROWS]
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
BUILD="${VELDA_BUILD:-$ROOT/build}"
ninja -C "$BUILD" log_bench >/dev/null
exec "$BUILD/bin/log_bench" "${1:-1000000}"
