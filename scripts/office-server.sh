#!/usr/bin/env bash
# Sets up a Debian 12 machine as the office's VELDA server. Run as root on the server:
#
#   bash scripts/office-server.sh [--network 192.168.1.0/24] [--ftp-password PASSWORD] [--standby PORT]
#
# What it changes:
#   - installs postgresql, vsftpd, openssl and iproute2 from Debian's archive;
#   - makes a certificate of its own for PostgreSQL and for vsftpd in /etc/velda-tls (keys 0600) and
#     turns TLS on for both, refusing plain connections from the office network;
#   - PostgreSQL: the role "Hodrin" and the catalogue "HD信息库" (tables and reference data made with
#     velda-initdb when it is found beside this script's build, else printed as the next step);
#     listen_addresses = '*' in postgresql.conf and one line in pg_hba.conf admitting the office
#     network to that catalogue with that role (scram-sha-256); restarts PostgreSQL;
#   - vsftpd: the system account velda (no login shell) whose home /srv/velda is its FTP root, with
#     the folder Volume/ where the volumes live; /etc/vsftpd.conf written for local accounts chrooted
#     to their home, writing allowed, anonymous access off (the earlier file is kept as .velda-old);
#     /etc/vsftpd.velda-users lists the only account allowed to log in;
#   - with --standby PORT: a second PostgreSQL cluster "standby" on PORT, a copy of the first made with
#     pg_basebackup that follows it by streaming replication; the first waits for it at each commit
#     (synchronous_standby_names), so a committed check-in is on both. The clients name both servers;
#     when the first fails, "pg_ctlcluster VERSION standby promote" makes the standby take over;
#   - prints what each client types.
# Running it again changes nothing that is already in place, except the FTP password when given.
set -euo pipefail

NETWORK=""
FTP_PASSWORD=""
STANDBY_PORT=""
while [ $# -gt 0 ]; do
    case "$1" in
        --network) NETWORK="$2"; shift 2 ;;
        --ftp-password) FTP_PASSWORD="$2"; shift 2 ;;
        --standby) STANDBY_PORT="$2"; shift 2 ;;
        *) sed -n '2,23p' "$0" | sed 's/^# \{0,1\}//' >&2; exit 2 ;;
    esac
done

[ "$(id -u)" -eq 0 ] || { echo "请以root身份运行" >&2; exit 1; }
. /etc/os-release
[ "${VERSION_ID:-}" = "12" ] || echo "注意：本脚本为Debian 12编写，当前系统为 ${PRETTY_NAME:-未知}" >&2

# iproute2 gives the server's network and address below; a minimal Debian lacks it.
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends postgresql vsftpd openssl iproute2 >/dev/null

# The office network: the server's own IPv4 network unless given.
if [ -z "$NETWORK" ]; then
    NETWORK="$(ip -o -f inet route show scope link | awk '$1 ~ /\// {print $1; exit}')"
    [ -n "$NETWORK" ] || { echo "无法确定办公室网段，请用 --network 指定，例如 192.168.1.0/24" >&2; exit 1; }
fi
SERVER_IP="$(ip -o -f inet route get 1.1.1.1 2>/dev/null | sed -n 's/.* src \([0-9.]*\).*/\1/p')"
SERVER_IP="${SERVER_IP:-$(hostname -I | awk '{print $1}')}"

# --- PostgreSQL -----------------------------------------------------------------------------------
PG_VERSION="$(ls /etc/postgresql | sort -V | tail -n 1)"
PG_CONF_DIR="/etc/postgresql/$PG_VERSION/main"
psql_su() { runuser -u postgres -- psql -v ON_ERROR_STOP=1 -qtA "$@"; }

if [ "$(psql_su -c "SELECT 1 FROM pg_roles WHERE rolname = 'Hodrin'")" != "1" ]; then
    psql_su -c "CREATE ROLE \"Hodrin\" LOGIN PASSWORD 'tovkan'"
fi
NEW_CATALOGUE=0
if [ "$(psql_su -c "SELECT 1 FROM pg_database WHERE datname = 'HD信息库'")" != "1" ]; then
    psql_su -c "CREATE DATABASE \"HD信息库\" OWNER \"Hodrin\" ENCODING 'UTF8' TEMPLATE template0"
    NEW_CATALOGUE=1
fi

if ! grep -q "^listen_addresses = '\*'" "$PG_CONF_DIR/postgresql.conf"; then
    cp -n "$PG_CONF_DIR/postgresql.conf" "$PG_CONF_DIR/postgresql.conf.velda-old"
    echo "listen_addresses = '*'   # VELDA clients of the office network" >>"$PG_CONF_DIR/postgresql.conf"
fi
# A certificate of the server's own, made here (the key never leaves the machine, readable by its
# service alone): the clients connect with TLS ("prefer" finds it; "verify-full" checks it against a
# copy of velda-server.crt named in the client's configuration).
TLS_DIR=/etc/velda-tls
make_cert() { # name owner
    local name="$1" owner="$2"
    if [ ! -s "$TLS_DIR/$name.key" ]; then
        (umask 077; openssl req -x509 -newkey rsa:3072 -nodes -days 3650 -subj "/CN=$SERVER_IP" \
            -addext "subjectAltName=IP:$SERVER_IP,DNS:$(hostname -f 2>/dev/null || hostname)" \
            -keyout "$TLS_DIR/$name.key" -out "$TLS_DIR/$name.crt" 2>/dev/null)
    fi
    chown "$owner" "$TLS_DIR/$name.key"
    chmod 600 "$TLS_DIR/$name.key"
    chmod 644 "$TLS_DIR/$name.crt"
}
install -d -m 755 "$TLS_DIR"
make_cert velda-server postgres
make_cert velda-ftp root
if ! grep -q "^ssl_cert_file = '$TLS_DIR/velda-server.crt'" "$PG_CONF_DIR/postgresql.conf"; then
    cp -n "$PG_CONF_DIR/postgresql.conf" "$PG_CONF_DIR/postgresql.conf.velda-old"
    printf "ssl = on   # VELDA\nssl_cert_file = '%s'\nssl_key_file = '%s'\n" \
        "$TLS_DIR/velda-server.crt" "$TLS_DIR/velda-server.key" >>"$PG_CONF_DIR/postgresql.conf"
fi
# hostssl: the office network reaches the catalogue over TLS only.
HBA_LINE="hostssl \"HD信息库\"    \"Hodrin\"    $NETWORK    scram-sha-256"
if ! grep -qF "$HBA_LINE" "$PG_CONF_DIR/pg_hba.conf"; then
    cp -n "$PG_CONF_DIR/pg_hba.conf" "$PG_CONF_DIR/pg_hba.conf.velda-old"
    printf '# VELDA clients\n%s\n' "$HBA_LINE" >>"$PG_CONF_DIR/pg_hba.conf"
fi
systemctl restart "postgresql@$PG_VERSION-main" 2>/dev/null || systemctl restart postgresql

INITDB=""
for candidate in "$(dirname "$0")/../build/bin/velda-initdb" /usr/bin/velda-initdb; do
    if [ -x "$candidate" ]; then INITDB="$candidate"; break; fi
done
PG_PORT="$(psql_su -c 'SHOW port')"
if [ "$NEW_CATALOGUE" -eq 1 ]; then
    if [ -n "$INITDB" ]; then
        "$INITDB" --pg "127.0.0.1:$PG_PORT"
    else
        echo "下一步：在装有VELDA的机器上执行 velda-initdb --pg $SERVER_IP:$PG_PORT 建表" >&2
    fi
fi

# --- the standby ----------------------------------------------------------------------------------
DB_ADDRESS="$SERVER_IP:$PG_PORT"
if [ -n "$STANDBY_PORT" ]; then
    SB_CONF_DIR="/etc/postgresql/$PG_VERSION/standby"
    SB_DATA="/var/lib/postgresql/$PG_VERSION/standby"
    if [ ! -d "$SB_CONF_DIR" ]; then
        pg_createcluster "$PG_VERSION" standby -p "$STANDBY_PORT" >/dev/null
        # The clients reach it as they reach the first: the same addresses, TLS and admission.
        cp "$PG_CONF_DIR/pg_hba.conf" "$SB_CONF_DIR/pg_hba.conf"
        printf "listen_addresses = '*'   # VELDA\nssl = on   # VELDA\nssl_cert_file = '%s'\nssl_key_file = '%s'\n" \
            "$TLS_DIR/velda-server.crt" "$TLS_DIR/velda-server.key" >>"$SB_CONF_DIR/postgresql.conf"
        # Its data is a copy of the first's, taken over the local socket, with the settings that make
        # it follow the first (standby.signal, primary_conninfo).
        rm -rf "$SB_DATA"
        runuser -u postgres -- "/usr/lib/postgresql/$PG_VERSION/bin/pg_basebackup" -D "$SB_DATA" -R -X stream \
            -c fast -d "port=$PG_PORT application_name=velda_standby"
        pg_ctlcluster "$PG_VERSION" standby start
    fi
    # Only once it streams may the first wait for it: a commit would wait for a standby that is not there.
    for _ in $(seq 60); do
        [ -n "$(psql_su -c "SELECT 1 FROM pg_stat_replication WHERE application_name = 'velda_standby'")" ] && break
        sleep 1
    done
    [ -n "$(psql_su -c "SELECT 1 FROM pg_stat_replication WHERE application_name = 'velda_standby'")" ] ||
        { echo "备用数据库没有开始同步，请查看 /var/log/postgresql/postgresql-$PG_VERSION-standby.log" >&2; exit 1; }
    psql_su -c "ALTER SYSTEM SET synchronous_standby_names = 'velda_standby'"
    psql_su -c "SELECT pg_reload_conf()" >/dev/null
    DB_ADDRESS="$SERVER_IP:$PG_PORT,$SERVER_IP:$STANDBY_PORT"
fi

# --- vsftpd ---------------------------------------------------------------------------------------
if ! id velda >/dev/null 2>&1; then
    useradd --system --home-dir /srv/velda --create-home --shell /usr/sbin/nologin velda
    [ -n "$FTP_PASSWORD" ] || FTP_PASSWORD="$(head -c 18 /dev/urandom | base64 | tr -dc 'A-Za-z0-9')"
fi
if [ -n "$FTP_PASSWORD" ]; then
    echo "velda:$FTP_PASSWORD" | chpasswd
fi
# vsftpd refuses a writable chroot root: the home stays the account's but not writable, the
# volumes are written below Volume/.
install -d -o root -g velda -m 755 /srv/velda
install -d -o velda -g velda -m 755 /srv/velda/Volume
# nologin is not in /etc/shells; PAM's shell check would refuse the account.
grep -qx /usr/sbin/nologin /etc/shells || echo /usr/sbin/nologin >>/etc/shells

[ -f /etc/vsftpd.conf.velda-old ] || cp /etc/vsftpd.conf /etc/vsftpd.conf.velda-old
cat >/etc/vsftpd.conf <<'CONF'
# Written by VELDA's office-server.sh; the earlier file is /etc/vsftpd.conf.velda-old.
listen=YES
listen_ipv6=NO
anonymous_enable=NO
local_enable=YES
write_enable=YES
local_umask=022
chroot_local_user=YES
userlist_enable=YES
userlist_deny=NO
userlist_file=/etc/vsftpd.velda-users
pasv_enable=YES
pasv_min_port=40000
pasv_max_port=40100
utf8_filesystem=YES
xferlog_enable=YES
secure_chroot_dir=/var/run/vsftpd/empty
pam_service_name=vsftpd
# TLS on both connections; logins and data in clear are refused. Data connections resume the
# control connection's session, which VELDA's client does.
ssl_enable=YES
rsa_cert_file=/etc/velda-tls/velda-ftp.crt
rsa_private_key_file=/etc/velda-tls/velda-ftp.key
force_local_logins_ssl=YES
force_local_data_ssl=YES
ssl_tlsv1=NO
ssl_sslv2=NO
ssl_sslv3=NO
require_ssl_reuse=YES
ssl_ciphers=HIGH
CONF
echo velda >/etc/vsftpd.velda-users
systemctl enable --now vsftpd >/dev/null 2>&1 || true
systemctl restart vsftpd

# --- what the clients type --------------------------------------------------------------------------
cat <<TEXT

VELDA 办公室服务器已就绪。
  数据库服务器地址（首次启动时的“SQL Server服务器IP地址”）：$DB_ADDRESS
  FTP帐号 velda 的密码（系统管理 → 记录管理员信息，每台客户机一次）：${FTP_PASSWORD:-（未更改，沿用原密码）}
  存储目录的服务器地址（系统管理 → 存储目录管理 → 添加存储目录）：$SERVER_IP
  防火墙需放行：TCP $PG_PORT${STANDBY_PORT:+、$STANDBY_PORT}、21 和 40000-40100（仅对 $NETWORK）。
  数据库与FTP均只接受加密连接。数据库证书 $TLS_DIR/velda-server.crt 可复制到客户机，并在其配置文件
  ~/.config/VELDA/velda.ini 中写入 [Database] SslMode=verify-full 与 SslRootCert=证书路径，以核对服务器。
  FTP公钥指纹（客户机首次连接时记下，请核对）：$(openssl x509 -in "$TLS_DIR/velda-ftp.crt" -pubkey -noout | openssl pkey -pubin -outform der | openssl dgst -sha256 -binary | base64 | sed 's|^|sha256//|')
TEXT
if [ -n "$STANDBY_PORT" ]; then
    cat <<TEXT
  备用数据库（端口 $STANDBY_PORT）同步跟随主库，每次提交都等备用库写入。主库损坏时执行
      pg_ctlcluster $PG_VERSION standby promote
  备用库即接替，客户机下一次操作自动连到它。原主库此后不可再作为主库启动：清空其数据后照本脚本
  的做法用 pg_basebackup 从新主库复制，作为新的备用库。备用库长时间停止时主库的提交会一直等待，
  可执行 ALTER SYSTEM RESET synchronous_standby_names 并重新加载配置后继续工作。
TEXT
fi
