#!/usr/bin/env bash
# The check of a volume with N files and N library rows (default 100,000) on a loopback FTP server and
# the SQLite database: one folder listing, one query. Prints the time. Usage: bench/volume_check.sh [N]
set -euo pipefail
N="${1:-100000}"
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
source "$ROOT/scripts/setup.sh"
velda_install
velda_build
"$VELDA_BUILD/bin/volume_check_bench" "$N"
