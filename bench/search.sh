#!/usr/bin/env bash
# The item search window's condition search over N part and N drawing records (made in each
# database) against the same SELECT run by sqlite3 and psql, on SQLite and on a private PostgreSQL
# server; then the result list's scrolling with every line in it. Prints seconds and ratios.
# Usage: bench/search.sh [N]   (default 100000)
set -euo pipefail
N="${1:-100000}"
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
source "$ROOT/scripts/setup.sh"
velda_install
for tool in sqlite3 psql; do
    command -v "$tool" >/dev/null || { echo "$tool is needed for the comparison (apt-get install sqlite3 postgresql-client)"; exit 1; }
done
if [ ! -f "$VELDA_BUILD/CMakeCache.txt" ]; then
    cmake -S "$VELDA_ROOT" -B "$VELDA_BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo
fi
cmake --build "$VELDA_BUILD" --target search_bench -j "$(nproc 2>/dev/null || echo 2)"
QT_QPA_PLATFORM=offscreen "$VELDA_BUILD/bin/search_bench" "$N"
