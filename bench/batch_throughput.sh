#!/usr/bin/env bash
# Batch check-in and check-out of N drawings of SIZE bytes on a loopback FTP server with the
# SQLite database, against lftp mirror up and down of the same folder on the same server.
# Prints both times and the ratios. Usage: bench/batch_throughput.sh [N] [SIZE_KB]
set -euo pipefail
N="${1:-500}"
KB="${2:-200}"
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
source "$ROOT/scripts/setup.sh"
velda_install
velda_build
work="$(mktemp -d)"
trap 'touch "$work/ftp.info.finish"; sleep 0.5; rm -rf "$work"' EXIT
mkdir -p "$work/src"
for i in $(seq 1 "$N"); do head -c "$((KB * 1024))" /dev/urandom > "$work/src/BENCH-$i.dwg"; done

"$VELDA_BUILD/bin/batch_bench" "$work/src" "$work/ftp.info" "$N" > "$work/velda.txt" &
bench_pid=$!
while [ ! -f "$work/ftp.info.done" ]; do
    if ! kill -0 $bench_pid 2>/dev/null; then cat "$work/velda.txt"; echo "benchmark failed"; exit 1; fi
    sleep 0.2
done
address=$(sed -n 1p "$work/ftp.info"); password=$(sed -n 2p "$work/ftp.info")
host=${address%:*}; port=${address##*:}
lftp_run() {
    lftp -u "velda,$password" -p "$port" -e "set net:max-retries 1; set ftp:passive-mode on; $1; bye" "$host" >/dev/null
}
start=$(date +%s.%N); lftp_run "mkdir -p lftp; mirror -R $work/src lftp/src"; up=$(echo "$(date +%s.%N) - $start" | bc)
mkdir -p "$work/down"
start=$(date +%s.%N); lftp_run "mirror lftp/src $work/down"; down=$(echo "$(date +%s.%N) - $start" | bc)
touch "$work/ftp.info.finish"; wait $bench_pid || true
vin=$(awk '/velda_checkin_seconds/{print $2}' "$work/velda.txt")
vout=$(awk '/velda_checkout_seconds/{print $2}' "$work/velda.txt")
echo "drawings:              $N x ${KB} KB"
echo "velda batch check-in:  ${vin} s"
echo "lftp mirror up:        ${up} s"
echo "ratio check-in/lftp:   $(echo "scale=2; $vin / $up" | bc)"
echo "velda batch check-out: ${vout} s"
echo "lftp mirror down:      ${down} s"
echo "ratio check-out/lftp:  $(echo "scale=2; $vout / $down" | bc)"
grep log_rows "$work/velda.txt"
