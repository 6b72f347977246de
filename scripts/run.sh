#!/usr/bin/env bash
# Builds VELDA and starts it.
#   run.sh          on a whole office on this machine (scripts/office.sh): a private PostgreSQL server
#                   and FTP server on loopback, made on first use, stopped when the last VELDA started
#                   here exits. A configuration that names another database server is kept and used.
#   run.sh --local  on the local database file alone (made on first use), without a file server.
#   run.sh --demo   as run.sh, after filling a new office with a small sample (velda-demo); an office
#                   that already holds users or data is left as it is, and the script ends with code 1.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"
velda_install
velda_build_if_changed
bin="$VELDA_BUILD/bin"

if [ "${1:-}" = "--local" ]; then
    shift
    "$bin/velda-initdb" --local
    "$bin/velda-office" select None
    exec "$bin/velda" "$@"
fi

demo=0
if [ "${1:-}" = "--demo" ]; then
    shift
    demo=1
fi

office="$VELDA_ROOT/scripts/office.sh"
configured="$("$bin/velda-office" server-address)"
own=""
if [ -f "$("$bin/velda-office" data-folder)/office/office.conf" ]; then
    own="127.0.0.1:$(sed -n 's/^PG_PORT=//p' "$("$bin/velda-office" data-folder)/office/office.conf")"
fi
if [ -n "$configured" ] && [ "$configured" != "None" ] && [ "$configured" != "$own" ]; then
    # An office server chosen by the user: nothing to start here, and no sample goes into it.
    if [ "$demo" -eq 1 ]; then
        echo "配置指向另一台数据库服务器（$configured），样例数据只填入本机办公环境，未作任何改动。" >&2
        exit 1
    fi
    exec "$bin/velda" "$@"
fi

bash "$office" up
bash "$office" join $$
trap 'bash "$office" leave $$' EXIT
if [ "$demo" -eq 1 ]; then
    "$bin/velda-demo" || exit $?
fi
rc=0
"$bin/velda" "$@" || rc=$?
exit $rc
