#!/usr/bin/env bash
# Builds VELDA and starts it.
#   run.sh          on a whole office on this machine (scripts/office.sh): a private PostgreSQL server
#                   and FTP server on loopback, made on first use, stopped when the last VELDA started
#                   here exits. A configuration that names another database server is kept and used.
#   run.sh --local  on the local database file alone (made on first use), without a file server.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"
velda_install
velda_build
bin="$VELDA_BUILD/bin"

if [ "${1:-}" = "--local" ]; then
    shift
    "$bin/velda-initdb" --local
    "$bin/velda-office" select None
    exec "$bin/velda" "$@"
fi

office="$VELDA_ROOT/scripts/office.sh"
configured="$("$bin/velda-office" server-address)"
own=""
if [ -f "$("$bin/velda-office" data-folder)/office/office.conf" ]; then
    own="127.0.0.1:$(sed -n 's/^PG_PORT=//p' "$("$bin/velda-office" data-folder)/office/office.conf")"
fi
if [ -n "$configured" ] && [ "$configured" != "None" ] && [ "$configured" != "$own" ]; then
    # An office server chosen by the user: nothing to start here.
    exec "$bin/velda" "$@"
fi

bash "$office" up
bash "$office" join $$
trap 'bash "$office" leave $$' EXIT
rc=0
"$bin/velda" "$@" || rc=$?
exit $rc
