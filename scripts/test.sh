#!/usr/bin/env bash
# Builds VELDA and runs the whole test suite. The tests start their own PostgreSQL server and FTP
# servers on loopback and stop them when they end.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"
velda_install
velda_build

# Every server of this run lives under one folder of its own, so that the run can stop exactly its
# own servers, even those of a test program that crashed, and never another run's.
VELDA_TEST_RUN_DIR="$(mktemp -d "${TMPDIR:-/tmp}/velda-test-run.XXXXXX")"
# The PostgreSQL server runs as the postgres account when the tests run as root.
chmod 755 "$VELDA_TEST_RUN_DIR"
export VELDA_TEST_RUN_DIR

# Stops the servers of this run and nothing else: each PostgreSQL server by the pid in its data
# folder's postmaster.pid, after checking that the pid still runs from this run's folder; then
# whatever else still runs from that folder (the FTP test servers and an initdb of a crashed test
# program).
in_run_dir() {
    { tr '\0' ' ' <"/proc/$1/cmdline"; } 2>/dev/null | grep -qF -- "$VELDA_TEST_RUN_DIR/"
}
stop_own_servers() {
    local pidfile pid proc waited
    for pidfile in "$VELDA_TEST_RUN_DIR"/velda-pg-*/data/postmaster.pid; do
        [ -f "$pidfile" ] || continue
        pid="$(head -n 1 "$pidfile" 2>/dev/null || true)"
        pid="${pid#-}" # negative while initdb runs its bootstrap backend
        [[ "$pid" =~ ^[0-9]+$ ]] || continue
        if in_run_dir "$pid"; then
            kill -QUIT "$pid" 2>/dev/null || true # PostgreSQL's immediate shutdown
            waited=0
            while kill -0 "$pid" 2>/dev/null && [ "$waited" -lt 50 ]; do
                sleep 0.2
                waited=$((waited + 1))
            done
        fi
    done
    for proc in /proc/[0-9]*; do
        pid="${proc#/proc/}"
        if [ "$pid" != "$$" ] && in_run_dir "$pid"; then
            kill -TERM "$pid" 2>/dev/null || true
        fi
    done
    rm -rf "$VELDA_TEST_RUN_DIR" 2>/dev/null || { sleep 1; rm -rf "$VELDA_TEST_RUN_DIR"; }
}
trap stop_own_servers EXIT

cd "$VELDA_BUILD"
export QT_QPA_PLATFORM=offscreen
rc=0
ctest --output-on-failure "$@" || rc=$?
exit $rc
