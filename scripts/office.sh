#!/usr/bin/env bash
# A whole office on this machine: a private PostgreSQL cluster and an FTP server (pyftpdlib), both on
# loopback only, with their data in the user's data folder under office/.
#
#   office.sh up            make the office on first use, start its servers, point the configuration at it
#   office.sh join PID      count PID as a program using the office
#   office.sh leave PID     stop counting PID; the servers stop when no counted program still runs
#   office.sh down          stop the servers
#   office.sh status        say what runs where
#   office.sh purge         stop the servers and delete the office with all its data
#
# VELDA_CONFIG and VELDA_DATA_DIR choose another configuration and data folder, as for the program.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"

VELDA_BIN="${VELDA_BIN:-$VELDA_BUILD/bin}"
PYTHON=/usr/bin/python3 # Debian's python3-pyftpdlib is visible to this interpreter
FTP_SCRIPT="$VELDA_ROOT/tests/support/ftp_server.py"

die() { echo "office: $*" >&2; exit 1; }

[ -x "$VELDA_BIN/velda-office" ] || die "找不到 $VELDA_BIN/velda-office，请先编译（bash scripts/run.sh 会编译）"
DATA="$("$VELDA_BIN/velda-office" data-folder)"
OFFICE="$DATA/office"
CONF="$OFFICE/office.conf"
[ -d "$OFFICE" ] || { mkdir -p "$OFFICE"; chmod 700 "$OFFICE"; }

PG_BIN=""
for v in 15 16 17; do
    if [ -x "/usr/lib/postgresql/$v/bin/initdb" ]; then PG_BIN="/usr/lib/postgresql/$v/bin"; break; fi
done

# PostgreSQL refuses to run as root: then the cluster runs as the postgres account, in a folder that
# account can reach (a root's home is closed to it).
AS_POSTGRES=0
[ "$(id -u)" -eq 0 ] && AS_POSTGRES=1
pg() { if [ "$AS_POSTGRES" -eq 1 ]; then runuser -u postgres -- "$@"; else "$@"; fi; }

free_port() {
    "$PYTHON" -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}
port_free() {
    "$PYTHON" -c 'import socket,sys; s=socket.socket(); s.bind(("127.0.0.1", int(sys.argv[1])))' "$1" 2>/dev/null
}

load_conf() {
    PG_PORT="" FTP_PORT="" FTP_PASSWORD="" PG_DIR=""
    # shellcheck disable=SC1090
    [ -f "$CONF" ] && source "$CONF"
    return 0
}

# Whether the pid runs a program from this office (never another office's or another user's server).
ours() {
    [ -n "${1:-}" ] && [ -r "/proc/$1/cmdline" ] && tr '\0' ' ' <"/proc/$1/cmdline" 2>/dev/null | grep -qF -- "$OFFICE/"
}
pg_running() { [ -n "$PG_DIR" ] && [ -d "$PG_DIR/data" ] && pg "$PG_BIN/pg_ctl" -D "$PG_DIR/data" status >/dev/null 2>&1; }
ftp_pid() { cat "$OFFICE/ftp.pid" 2>/dev/null || true; }
ftp_running() { local p; p="$(ftp_pid)"; [ -n "$p" ] && kill -0 "$p" 2>/dev/null && ours "$p"; }

# The FTP password of office.conf as a file readable by the user alone, written afresh each time so it
# never differs from office.conf (offices made before the file existed get it too).
password_file() {
    local f="$OFFICE/ftp.password"
    (umask 077; printf '%s\n' "$FTP_PASSWORD" >"$f.tmp") && chmod 600 "$f.tmp" && mv -f "$f.tmp" "$f"
    echo "$f"
}

# Certificates of the office's own servers, made here on first use (and for offices made before);
# each key is readable by its server's account alone. The clients encrypt both channels with them.
self_signed() { # key certificate
    (umask 077; openssl req -x509 -newkey rsa:2048 -nodes -days 3650 -subj /CN=127.0.0.1 \
        -addext subjectAltName=IP:127.0.0.1 -keyout "$1" -out "$2" 2>/dev/null) ||
        die "openssl 未能生成证书 $2"
}
make_certs() {
    mkdir -p "$OFFICE/tls"
    [ -s "$OFFICE/tls/ftp.key" ] || self_signed "$OFFICE/tls/ftp.key" "$OFFICE/tls/ftp.crt"
    chmod 600 "$OFFICE/tls/ftp.key"
    # PostgreSQL takes server.crt and server.key from its data folder, the key owned by its account.
    if [ ! -s "$PG_DIR/data/server.key" ]; then
        self_signed "$PG_DIR/data/server.key" "$PG_DIR/data/server.crt"
        if [ "$AS_POSTGRES" -eq 1 ]; then chown postgres:postgres "$PG_DIR/data/server.key" "$PG_DIR/data/server.crt"; fi
    fi
    chmod 600 "$PG_DIR/data/server.key"
}

start_pg() {
    pg_running && return 0
    port_free "$PG_PORT" || die "端口 $PG_PORT 已被其他程序占用，数据库服务器无法启动"
    pg "$PG_BIN/pg_ctl" -D "$PG_DIR/data" -l "$PG_DIR/server.log" -w \
        -o "-p $PG_PORT -k $PG_DIR -c listen_addresses=127.0.0.1 -c ssl=on" start >/dev/null 9>&- ||
        die "数据库服务器未能启动，见 $PG_DIR/server.log"
}

start_ftp() {
    ftp_running && return 0
    port_free "$FTP_PORT" || die "端口 $FTP_PORT 已被其他程序占用，FTP服务器无法启动"
    # Started in a session of its own so that it outlives the run.sh that started it.
    # The password goes through a file of the user's own, never the command line, which ps shows to all.
    setsid "$PYTHON" "$FTP_SCRIPT" --root "$OFFICE/ftp" --password-file "$(password_file)" --port "$FTP_PORT" \
        --tls-cert "$OFFICE/tls/ftp.crt" --tls-key "$OFFICE/tls/ftp.key" \
        >"$OFFICE/ftp.port" 2>"$OFFICE/ftp.log" </dev/null 9>&- &
    echo $! >"$OFFICE/ftp.pid"
    local waited=0
    until [ -s "$OFFICE/ftp.port" ]; do
        kill -0 "$(ftp_pid)" 2>/dev/null || die "FTP服务器未能启动：$(cat "$OFFICE/ftp.log")"
        [ "$waited" -lt 100 ] || die "FTP服务器10秒内未就绪"
        sleep 0.1
        waited=$((waited + 1))
    done
}

create() {
    [ -n "$PG_BIN" ] || die "找不到PostgreSQL服务器程序（apt-get install postgresql）"
    "$PYTHON" -c 'import pyftpdlib' 2>/dev/null || die "找不到pyftpdlib（apt-get install python3-pyftpdlib）"
    # The postgres account may pass through the office folder (not read it) when every folder above
    # lets it; a root's home does not, and then the cluster lives below /var/lib.
    [ "$AS_POSTGRES" -eq 1 ] && chmod 711 "$OFFICE"
    if [ "$AS_POSTGRES" -eq 1 ] && runuser -u postgres -- test -x "$OFFICE"; then
        PG_DIR="$OFFICE/pg"
        mkdir -p "$PG_DIR"
        chown postgres:postgres "$PG_DIR"
        chmod 700 "$PG_DIR"
    elif [ "$AS_POSTGRES" -eq 1 ]; then
        PG_DIR="/var/lib/velda-office/$(printf '%s' "$OFFICE" | sha1sum | cut -c1-16)"
        mkdir -p "$PG_DIR"
        chown postgres:postgres "$PG_DIR"
        chmod 700 "$PG_DIR"
        ln -sfn "$PG_DIR" "$OFFICE/pg"
    else
        PG_DIR="$OFFICE/pg"
        mkdir -p "$PG_DIR"
    fi
    PG_PORT="$(free_port)"
    FTP_PORT="$(free_port)"
    FTP_PASSWORD="$(head -c 18 /dev/urandom | base64 | tr -dc 'A-Za-z0-9')"
    mkdir -p "$OFFICE/ftp"
    pg "$PG_BIN/initdb" -D "$PG_DIR/data" -U postgres -E UTF8 --no-locale --auth-local=trust \
        --auth-host=scram-sha-256 >"$OFFICE/initdb.log" 2>&1 || die "initdb 失败，见 $OFFICE/initdb.log"
    make_certs
    (umask 077; printf 'PG_PORT=%s\nFTP_PORT=%s\nFTP_PASSWORD=%s\nPG_DIR=%q\n' \
        "$PG_PORT" "$FTP_PORT" "$FTP_PASSWORD" "$PG_DIR" >"$CONF")
    start_pg
    pg "$PG_BIN/psql" -h "$PG_DIR" -p "$PG_PORT" -U postgres -d postgres -v ON_ERROR_STOP=1 -q \
        -c "CREATE ROLE \"Hodrin\" LOGIN PASSWORD 'tovkan'" \
        -c "CREATE DATABASE \"HD信息库\" OWNER \"Hodrin\" ENCODING 'UTF8' TEMPLATE template0" >/dev/null
    echo "office: 已建立本机办公环境 $OFFICE"
}

up() {
    load_conf
    if [ ! -f "$CONF" ]; then create; load_conf; fi
    make_certs
    start_pg
    start_ftp
    "$VELDA_BIN/velda-office" seed "127.0.0.1:$PG_PORT" "127.0.0.1:$FTP_PORT" "$(password_file)"
}

down() {
    load_conf
    if pg_running; then
        pg "$PG_BIN/pg_ctl" -D "$PG_DIR/data" -m fast -w stop >/dev/null || true
    fi
    local p; p="$(ftp_pid)"
    if [ -n "$p" ] && ours "$p"; then
        kill -TERM "$p" 2>/dev/null || true
        for _ in $(seq 50); do kill -0 "$p" 2>/dev/null || break; sleep 0.1; done
    fi
    rm -f "$OFFICE/ftp.pid" "$OFFICE/ftp.port"
    rm -rf "$OFFICE/clients"
}

# Programs that use the office, one file per pid; files of ended programs are dropped.
live_clients() {
    local f n=0
    mkdir -p "$OFFICE/clients"
    for f in "$OFFICE"/clients/*; do
        [ -e "$f" ] || continue
        if kill -0 "${f##*/}" 2>/dev/null; then n=$((n + 1)); else rm -f "$f"; fi
    done
    echo "$n"
}

status() {
    load_conf
    [ -f "$CONF" ] || { echo "尚未建立本机办公环境（$OFFICE）"; return 0; }
    if pg_running; then echo "数据库服务器：127.0.0.1:$PG_PORT（运行中）"; else echo "数据库服务器：127.0.0.1:$PG_PORT（已停止）"; fi
    if ftp_running; then echo "FTP服务器：127.0.0.1:$FTP_PORT（运行中）"; else echo "FTP服务器：127.0.0.1:$FTP_PORT（已停止）"; fi
    echo "使用中的程序：$(live_clients)"
}

# Everything below runs under one lock so that two run.sh starting or ending together agree.
exec 9>"$OFFICE/lock"
flock 9
case "${1:-}" in
    up) up ;;
    down) down ;;
    status) status ;;
    join) [ -n "${2:-}" ] || die "join 需要进程号"; mkdir -p "$OFFICE/clients"; : >"$OFFICE/clients/$2" ;;
    leave)
        [ -n "${2:-}" ] || die "leave 需要进程号"
        rm -f "$OFFICE/clients/$2"
        if [ "$(live_clients)" -eq 0 ]; then down; fi
        ;;
    purge)
        down
        load_conf
        if [ -n "$PG_DIR" ] && [ "$PG_DIR" != "$OFFICE/pg" ]; then rm -rf "$PG_DIR"; fi
        rm -rf "$OFFICE"
        ;;
    *) sed -n '2,13p' "${BASH_SOURCE[0]}" | sed 's/^# \{0,1\}//' >&2; exit 2 ;;
esac
