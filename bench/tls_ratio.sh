#!/usr/bin/env bash
# What encrypting the transfers costs: batch check-in and check-out of N drawings of SIZE KB through
# velda-cli on a volume with TLS off and on a volume that requires it, on one server, and lftp
# mirroring the same set with ftp:ssl-force on that server. Prints the medians of RUNS runs and the
# ratios TLS / plain and VELDA-TLS / lftp-TLS, each beside its goal. The same batches of 1 KB drawings
# measure what TLS costs a file apart from its bytes (a data connection's handshake, the encrypted
# commands): that cost times N is a floor under the 200 KB batch's TLS time, and on loopback, where
# plain transfers are nearly free, the floor alone can pass the 1.5 goal.
# The office comes from scripts/office.sh (PostgreSQL and the tests' FTP server, both with TLS) in a
# folder of its own, removed at the end.
# Usage: bench/tls_ratio.sh [N] [SIZE_KB]   (RUNS=3 SKIP_BUILD=1 SERVER=pyftpdlib|vsftpd)
set -euo pipefail
N="${1:-500}"
KB="${2:-200}"
RUNS="${RUNS:-3}"
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
source "$ROOT/scripts/setup.sh"
if [ -z "${SKIP_BUILD:-}" ]; then
    velda_install
    velda_build
fi
CLI="$ROOT/build/bin/velda-cli"
work="$(mktemp -d)"
export VELDA_CONFIG="$work/config/velda.ini" VELDA_DATA_DIR="$work/data"
trap '[ -z "${vsftpd_pid:-}" ] || kill "$vsftpd_pid"; rm -f /etc/pam.d/velda-bench-tls
bash "$ROOT/scripts/office.sh" purge >/dev/null 2>&1 || true; rm -rf "$work"' EXIT
bash "$ROOT/scripts/office.sh" up >/dev/null
office="$("$ROOT/build/bin/velda-office" data-folder)/office"
# shellcheck disable=SC1091
source "$office/office.conf"
ftp="127.0.0.1:$FTP_PORT"
# SERVER=vsftpd: the same batches against a vsftpd of the benchmark's own with ssl_enable, on
# loopback, with the office's certificate; any password logs in (PAM service velda-bench-tls).
vsftpd_pid=""
if [ "${SERVER:-pyftpdlib}" = vsftpd ]; then
    [ "$(id -u)" -eq 0 ] && [ -x /usr/sbin/vsftpd ] || { echo "SERVER=vsftpd needs root and vsftpd" >&2; exit 1; }
    printf 'auth required pam_permit.so\naccount required pam_permit.so\nsession required pam_permit.so\n' \
        >/etc/pam.d/velda-bench-tls
    FTP_PORT=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
    ftp="127.0.0.1:$FTP_PORT"
    read -r _ high </proc/sys/net/ipv4/ip_local_port_range
    mkdir -p "$work/vsftpd-root/Volume" "$work/vsftpd-empty"
    cat >"$work/vsftpd.conf" <<CONF
listen=YES
listen_address=127.0.0.1
listen_port=$FTP_PORT
background=NO
anonymous_enable=NO
local_enable=YES
guest_enable=YES
guest_username=root
virtual_use_local_privs=YES
write_enable=YES
local_root=$work/vsftpd-root
chroot_local_user=YES
allow_writeable_chroot=YES
pam_service_name=velda-bench-tls
pasv_min_port=$((high + 1))
pasv_max_port=65535
seccomp_sandbox=NO
secure_chroot_dir=$work/vsftpd-empty
xferlog_enable=NO
max_clients=500
max_per_ip=500
ssl_enable=YES
rsa_cert_file=$office/tls/ftp.crt
rsa_private_key_file=$office/tls/ftp.key
force_local_logins_ssl=NO
force_local_data_ssl=NO
CONF
    /usr/sbin/vsftpd "$work/vsftpd.conf" >"$work/vsftpd.log" 2>&1 &
    vsftpd_pid=$!
    sleep 0.5
    kill -0 "$vsftpd_pid" || { cat "$work/vsftpd.log" >&2; exit 1; }
fi
export VELDA_PASSWORD=admin
admin() { "$CLI" --user admin --group admin --server "127.0.0.1:$PG_PORT" "$@" >/dev/null; }
admin admin-record --password-file "$office/ftp.password"
# The encryption is settled per server address: the plain volume reaches the same server by another name.
admin volume add 明文 "localhost:$FTP_PORT" --tls off
admin volume add 加密 "$ftp" --tls require
admin group add 明文组 明文
admin group add 加密组 加密
printf 'bench\n' >"$work/bench.pw"
admin user add bench --password-file "$work/bench.pw" --groups 明文组,加密组

# Nothing is deleted until the end. ext4 skips inodes freed moments ago when it makes a file, and
# after a batch's 500 files were deleted the next batch's check-out spent more CPU making its files
# than TLS cost it (perf: recently_deleted, find_inode_bit); whichever group ran second paid for it.
make_set() { # folder prefix [KB]
    mkdir -p "$1"
    for i in $(seq 1 "$N"); do head -c "$((${3:-$KB} * 1024))" /dev/urandom >"$1/$2-$i.dwg"; done
}
median() { sort -n | awk '{a[NR]=$1} END {print (NR % 2) ? a[(NR + 1) / 2] : (a[NR / 2] + a[NR / 2 + 1]) / 2}'; }
# CPU seconds the FTP server has spent so far. vsftpd serves each login in processes of its own,
# counted into the listener once it has reaped them, so the batch's sessions are waited out first.
server_cpu() {
    local pid fields
    if [ -n "$vsftpd_pid" ]; then
        pid=$vsftpd_pid
        for _ in $(seq 1 100); do
            [ -z "$(cat /proc/"$pid"/task/*/children 2>/dev/null | tr -d ' ')" ] && break
            sleep 0.02
        done
    else
        pid=$(cat "$office/ftp.pid")
    fi
    read -r -a fields <"/proc/$pid/stat"
    echo "(${fields[13]} + ${fields[14]} + ${fields[15]} + ${fields[16]}) / $(getconf CLK_TCK)" | bc -l
}
# The CPU seconds of the shell's finished children, from the output of times before and after.
children_cpu() { awk 'FNR == 2 {gsub(/[ms]/, " "); t[++n] = $1 * 60 + $2 + $3 * 60 + $4} END {print t[2] - t[1]}' "$@"; }
# A failed run must stop the benchmark, not pass for a fast one.
timed() { # prints: wall seconds, the client's CPU seconds, the server's CPU seconds
    local s e v0 v1
    v0=$(server_cpu)
    times >"$work/times-before" # not in a subshell: one would count only its own children
    s=$(date +%s.%N)
    "$@" >/dev/null || { echo "failed: $*" >&2; exit 1; }
    e=$(date +%s.%N)
    times >"$work/times-after"
    v1=$(server_cpu)
    echo "$(echo "$e - $s" | bc) $(children_cpu "$work/times-before" "$work/times-after") $(echo "$v1 - $v0" | bc)"
}
# Keeps a velda-cli run's three figures under its key; a failed run has stopped the benchmark.
note() { # key figures
    local wall client server
    read -r wall client server <<<"$2"
    results[$1]+="$wall"$'\n'
    client_cpu[$1]+="$client"$'\n'
    served_cpu[$1]+="$server"$'\n'
}
# The batch check-out picks its drawings by their item records: one per file of the set.
records() { # prefix
    { echo "代号,名称"; for i in $(seq 1 "$N"); do echo "$1-$i,bench"; done; } >"$work/records.csv"
    admin import "$work/records.csv"
}
fetched() { # folder: every drawing of the set came out
    [ "$(find "$1" -name '*.dwg' | wc -l)" -eq "$N" ] || { echo "check-out fetched $(find "$1" -name '*.dwg' | wc -l) of $N" >&2; exit 1; }
}

declare -A results client_cpu served_cpu
for run in $(seq 1 "$RUNS"); do
    for size in "$KB" 1; do
        # Each group goes first in every other run, so neither always meets the other's leftovers.
        groups=(明文组 加密组)
        [ $((run % 2)) -eq 1 ] || groups=(加密组 明文组)
        for group in "${groups[@]}"; do
            prefix="T${run}K${size}$([ "$group" = 加密组 ] && echo S || echo P)"
            key="$group"
            [ "$size" = "$KB" ] || key="$group-small"
            make_set "$work/in-$prefix" "$prefix" "$size"
            mkdir -p "$work/out-$prefix"
            bench() { VELDA_PASSWORD=bench "$CLI" --user bench --group "$group" --server "127.0.0.1:$PG_PORT" "$@"; }
            figures="$(timed bench checkin --folder "$work/in-$prefix")"
            note "$key-in" "$figures"
            records "$prefix"
            figures="$(timed bench checkout --where "代号 like '$prefix-%'" --to "$work/out-$prefix")"
            note "$key-out" "$figures"
            fetched "$work/out-$prefix"
        done
    done
    make_set "$work/in-L$run" "L${run}"
    lftp_run() {
        lftp -u "velda,$FTP_PASSWORD" -e "set ftp:ssl-force true; set ftp:ssl-protect-data true; \
set ssl:verify-certificate no; set cmd:fail-exit true; $1; quit" "$ftp"
    }
    figures="$(timed lftp_run "mirror -R --parallel=4 $work/in-L$run /Volume/L$run")"
    results[lftp-in]+="${figures%% *}"$'\n'
    figures="$(timed lftp_run "mirror --parallel=4 /Volume/L$run $work/lftp-out-L$run")"
    results[lftp-out]+="${figures%% *}"$'\n'
done

echo "负载（uptime）：$(uptime | sed 's/.*load average: //')"
for what in in out; do
    plain=$(printf '%s' "${results[明文组-$what]}" | median)
    tls=$(printf '%s' "${results[加密组-$what]}" | median)
    lftp=$(printf '%s' "${results[lftp-$what]}" | median)
    small_plain=$(printf '%s' "${results[明文组-small-$what]}" | median)
    small_tls=$(printf '%s' "${results[加密组-small-$what]}" | median)
    label=$([ "$what" = in ] && echo 批量入库 || echo 批量出库)
    printf '%s %d×%dKB：不加密 %.2fs，加密 %.2fs（%.2f倍，目标≤1.5），lftp加密 %.2fs（%.2f倍，目标≤1.2）\n' \
        "$label" "$N" "$KB" "$plain" "$tls" "$(echo "$tls / $plain" | bc -l)" "$lftp" "$(echo "$tls / $lftp" | bc -l)"
    # What TLS adds to a file whatever its size, and the ratio that cost alone sets for this batch.
    per_file=$(echo "($small_tls - $small_plain) / $N * 1000" | bc -l)
    printf '  1KB图纸：不加密 %.2fs，加密 %.2fs；加密每个文件另需 %.1fms，×%d = %.2fs，即下限 %.2f倍\n' \
        "$small_plain" "$small_tls" "$per_file" "$N" "$(echo "$small_tls - $small_plain" | bc -l)" \
        "$(echo "($plain + $small_tls - $small_plain) / $plain" | bc -l)"
    # Where that cost is spent: CPU TLS adds a file on each side (medians, in ms), at both sizes.
    extra() { # array key
        local -n figures=$1
        echo "($(printf '%s' "${figures[加密组$2-$what]}" | median) - $(printf '%s' "${figures[明文组$2-$what]}" | median)) / $N * 1000" | bc -l
    }
    printf '  加密每个文件另需CPU：客户端 %.2fms，服务器 %.2fms（%dKB）；客户端 %.2fms，服务器 %.2fms（1KB）\n' \
        "$(extra client_cpu '')" "$(extra served_cpu '')" "$KB" "$(extra client_cpu -small)" "$(extra served_cpu -small)"
done
