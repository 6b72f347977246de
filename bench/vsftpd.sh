#!/usr/bin/env bash
# The benchmarks' own vsftpd, the C server Debian offices run: on 127.0.0.1 only, serving ROOT to any
# account name as the system's "ftp" user through the PAM service PAM_NAME, which lets every password
# in. Lines of configuration of the caller's own (TLS, logging) come on standard input (may be
# empty). The configuration goes into STATE (kept out of the served folder); then the script becomes
# the server, in the foreground: the caller starts it in the background, kills it by its pid and
# removes /etc/pam.d/PAM_NAME afterwards.
# Usage: bench/vsftpd.sh ROOT PORT PAM_NAME STATE < extra.conf   (needs root and /usr/sbin/vsftpd)
set -euo pipefail
root="$1" port="$2" pam="$3" state="$4"
[ "$(id -u)" -eq 0 ] || { echo "vsftpd needs root for its own PAM service" >&2; exit 1; }
[ -x /usr/sbin/vsftpd ] || { echo "vsftpd is not installed (scripts/setup.sh installs it)" >&2; exit 1; }
printf 'auth required pam_permit.so\naccount required pam_permit.so\nsession required pam_permit.so\n' \
    >"/etc/pam.d/$pam"
chown ftp:ftp "$root"
# The sessions run as "ftp" and must reach their root.
d="$root"
while d="$(dirname "$d")" && [ "$d" != / ]; do chmod o+x "$d"; done
mkdir -p "$state/empty"
read -r _ high </proc/sys/net/ipv4/ip_local_port_range
# Passive ports above the range for outgoing connections, as the tests' server takes them.
{
    cat <<CONF
listen=YES
listen_address=127.0.0.1
listen_port=$port
background=NO
anonymous_enable=NO
local_enable=YES
guest_enable=YES
guest_username=ftp
virtual_use_local_privs=YES
write_enable=YES
local_umask=022
local_root=$root
chroot_local_user=YES
allow_writeable_chroot=YES
pam_service_name=$pam
pasv_min_port=$((high + 1))
pasv_max_port=65535
seccomp_sandbox=NO
secure_chroot_dir=$state/empty
max_clients=1000
max_per_ip=1000
CONF
    cat
} >"$state/vsftpd.conf"
grep -q '^xferlog_enable=' "$state/vsftpd.conf" || echo xferlog_enable=NO >>"$state/vsftpd.conf"
exec /usr/sbin/vsftpd "$state/vsftpd.conf"
