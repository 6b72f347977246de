#!/usr/bin/env bash
# An office grown large: the log viewer against 1,000,000 log rows, the item search against 200,000
# part and drawing records, and the library list against 200,000 drawings and 1,000,000 log rows, on
# both databases, each against its raw statement. Prints every figure with its goal beside it (or "no
# goal" where none is set), its ratio to the raw statement where there is one, and the machine's load.
# Usage: bench/million.sh [LOG ROWS] [DRAWINGS]   (defaults 1000000 and 200000)
set -euo pipefail
LOG_ROWS="${1:-1000000}"
DRAWINGS="${2:-200000}"
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
source "$ROOT/scripts/setup.sh"
velda_install
if [ ! -f "$VELDA_BUILD/CMakeCache.txt" ]; then
    cmake -S "$VELDA_ROOT" -B "$VELDA_BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo
fi
cmake --build "$VELDA_BUILD" --target log_bench search_bench workspace_bench -j "$(nproc 2>/dev/null || echo 2)" >/dev/null
export QT_QPA_PLATFORM=offscreen
echo "== log viewer, $LOG_ROWS log rows"; uptime
"$VELDA_BUILD/bin/log_bench" "$LOG_ROWS"
echo "== item search, $DRAWINGS part and drawing records"; uptime
"$VELDA_BUILD/bin/search_bench" "$DRAWINGS"
for db in sqlite postgresql; do
    echo "== library list, $DRAWINGS drawings, $LOG_ROWS log rows"; uptime
    "$VELDA_BUILD/bin/workspace_bench" "$DRAWINGS" "$db" "$LOG_ROWS"
done
uptime
