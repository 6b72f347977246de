#!/usr/bin/env bash
# What keeping versions costs: a batch check-in of N drawings of KB kilobytes replacing existing ones,
# with and without history, in the same run on SQLite and on PostgreSQL (pyftpdlib on loopback);
# prints each database's ratio, and the history window's and deleted list's query times at size.
# Run it on a quiet machine. Usage: bench/history.sh [N] [KB] [RUNS]   (default 500 200 3)
set -euo pipefail
N="${1:-500}"
KB="${2:-200}"
RUNS="${3:-3}"
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
source "$ROOT/scripts/setup.sh"
if [ -z "${SKIP_BUILD:-}" ]; then
    velda_install
    velda_build
fi
for db in sqlite postgresql; do
    "$VELDA_BUILD/bin/history_bench" "$db" "$N" "$KB" "$RUNS"
done
