#!/usr/bin/env bash
# The log viewer on a million log rows in each database: search through the list model against the
# raw SELECT, export against sqlite3 / psql writing the same rows. Prints times, ratios and the
# longest pause of the window. Usage: bench/log/run.sh [ROWS]
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
source "$ROOT/scripts/setup.sh"
velda_install
if [ ! -f "$VELDA_BUILD/CMakeCache.txt" ]; then
    cmake -S "$VELDA_ROOT" -B "$VELDA_BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo
fi
cmake --build "$VELDA_BUILD" --target log_bench -j "$(nproc 2>/dev/null || echo 2)" >/dev/null
exec "$VELDA_BUILD/bin/log_bench" "${1:-1000000}"
