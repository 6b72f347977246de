#!/usr/bin/env bash
# Builds VELDA and runs the whole test suite. The tests start their own PostgreSQL server and FTP
# servers on loopback and stop them when they end.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"
velda_install
velda_build
cd "$VELDA_BUILD"
export QT_QPA_PLATFORM=offscreen
rc=0
ctest --output-on-failure "$@" || rc=$?
# A test program that crashed cannot stop the servers it started.
pkill -f "velda-pg-[0-9]+/data" 2>/dev/null || true
exit $rc
