#!/usr/bin/env bash
# The main window's library list on 100,000 drawings in each database: first paint, a filter keystroke,
# sorting, memory, and how soon another client's check-in shows. Usage: bench/workspace/run.sh [DRAWINGS]
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
source "$ROOT/scripts/setup.sh"
velda_install
if [ ! -f "$VELDA_BUILD/CMakeCache.txt" ]; then
    cmake -S "$VELDA_ROOT" -B "$VELDA_BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo
fi
cmake --build "$VELDA_BUILD" --target workspace_bench -j "$(nproc 2>/dev/null || echo 2)" >/dev/null
# Each database in a process of its own: the memory figure is then that of one list.
uptime
"$VELDA_BUILD/bin/workspace_bench" "${1:-100000}" sqlite
"$VELDA_BUILD/bin/workspace_bench" "${1:-100000}" postgresql
uptime
