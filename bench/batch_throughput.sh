#!/usr/bin/env bash
# Batch check-in and check-out against lftp on the same loopback FTP server, on SQLite and on
# PostgreSQL: N drawings of SIZE KB, 5,000 drawings of 20 KB, and one large drawing against
# lftp put / get. Every figure is run RUNS times (default 3); the median, the spread and the ratios
# are printed, with the peak memory of the process.
# Two FTP servers: the tests' own (pyftpdlib: one Python process, whose CPU decides much of the
# small-file figures) and vsftpd, the C server Debian offices run, started on loopback for the run
# (needs root: it logs the benchmark's account in through a PAM service of its own).
# Usage: bench/batch_throughput.sh [N] [SIZE_KB] [LARGE_MB]
#        (RUNS=3 SKIP_BUILD=1 CONNECTIONS=4 SERVERS="pyftpdlib vsftpd")
# BEFORE=DIR also runs DIR/bin/batch_bench (an earlier build) on every set right after ours, so that
# a change is judged against the code before it in the same run, under the same load.
set -euo pipefail
N="${1:-500}"
KB="${2:-200}"
LARGE_MB="${3:-200}"
RUNS="${RUNS:-3}"
CONNECTIONS="${CONNECTIONS:-4}"
SERVERS="${SERVERS:-pyftpdlib vsftpd}"
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
source "$ROOT/scripts/setup.sh"
if [ -z "${SKIP_BUILD:-}" ]; then
    velda_install
    velda_build
fi
work="$(mktemp -d)"
bench_pid=""
vsftpd_pid=""
# A failed run's status must not stop the clean-up: errexit holds inside the trap as well.
trap 'touch "$work"/*.info.finish 2>/dev/null || true; if [ -n "$bench_pid" ]; then wait $bench_pid 2>/dev/null || true; fi; stop_vsftpd; rm -rf "$work"' EXIT
results="$work/results.txt"
# Where each run's files go until the end; see batch_bench.cpp on why they are not deleted at once.
export BENCH_KEEP_DIR="$work/kept"
mkdir -p "$BENCH_KEEP_DIR"
: > "$results"

make_set() { # folder count kb
    mkdir -p "$1"
    for i in $(seq 1 "$2"); do head -c "$(($3 * 1024))" /dev/urandom > "$1/BENCH-$i.dwg"; done
}
make_set "$work/set1" "$N" "$KB"
make_set "$work/set2" 5000 20
head -c "$((LARGE_MB * 1024 * 1024))" /dev/urandom > "$work/large.dwg"

seconds() { local start=$1; echo "$(date +%s.%N) - $start" | bc; }

# vsftpd on loopback, serving $work/vsftpd-root to any account name as the system's "ftp" user.
# The PAM service lets every password in; the server listens on 127.0.0.1 only and lives as long
# as the script.
vsftpd_port=""
start_vsftpd() {
    if [ "$(id -u)" -ne 0 ]; then
        echo "vsftpd needs root for its own PAM service: left out"; return 1
    fi
    if [ ! -x /usr/sbin/vsftpd ]; then
        echo "== installing: vsftpd"
        DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends vsftpd >/dev/null
        # The package starts a system-wide server on port 21; the benchmark runs its own.
        if command -v systemctl >/dev/null && systemctl is-active -q vsftpd 2>/dev/null; then
            systemctl disable --now -q vsftpd && echo "the system-wide vsftpd the package started is stopped and disabled"
        fi
    fi
    mkdir -p "$work/vsftpd-root"
    vsftpd_port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
    bash "$(dirname "${BASH_SOURCE[0]}")/vsftpd.sh" "$work/vsftpd-root" "$vsftpd_port" velda-bench "$work" </dev/null \
        > "$work/vsftpd.log" 2>&1 &
    vsftpd_pid=$!
    sleep 0.5
    if ! kill -0 "$vsftpd_pid" 2>/dev/null; then
        cat "$work/vsftpd.log"; echo "vsftpd did not start: left out"; vsftpd_pid=""; return 1
    fi
}
stop_vsftpd() {
    if [ -n "$vsftpd_pid" ]; then kill "$vsftpd_pid" 2>/dev/null || true; wait "$vsftpd_pid" 2>/dev/null || true; fi
    vsftpd_pid=""
    rm -f /etc/pam.d/velda-bench
}

# One run of the program and of lftp against the program's server.
run_case() { # server backend set label large(0/1)
    local server=$1 backend=$2 set=$3 label=$4 large=$5 info="$work/$1-$2-$4-$RANDOM.info"
    local args=("$work/$set" "$info" "$backend")
    if [ "$large" = 1 ]; then args+=("$work/large.dwg"); else args+=(""); fi
    args+=("$CONNECTIONS")
    local external=""
    if [ "$server" = vsftpd ]; then
        # Each run starts from an empty root; the last run's files wait with the others.
        local aside="$BENCH_KEEP_DIR/vsftpd-$RANDOM$RANDOM"
        mkdir -p "$aside"
        find "$work/vsftpd-root" -mindepth 1 -maxdepth 1 -exec mv -t "$aside" {} +
        external="127.0.0.1:$vsftpd_port $work/vsftpd-root $vsftpd_pid"
    fi
    BENCH_FTP="$external" "$VELDA_BUILD/bin/batch_bench" "${args[@]}" > "$info.out" 2>&1 &
    bench_pid=$!
    while [ ! -f "$info.done" ]; do
        if ! kill -0 $bench_pid 2>/dev/null; then cat "$info.out"; echo "benchmark failed"; exit 1; fi
        sleep 0.2
    done
    local address password host port start server_pid
    address=$(sed -n 1p "$info"); password=$(sed -n 2p "$info"); server_pid=$(sed -n 4p "$info")
    host=${address%:*}; port=${address##*:}
    lftp_run() {
        lftp -u "velda,$password" -p "$port" -e "set net:max-retries 1; set ftp:passive-mode on; $1; bye" "$host" >/dev/null
    }
    local key="$server $backend $label"
    awk -v k="$key" -v s="$server" '/^velda_|^batch_peak|^large_|^phase_/ && !(s != "pyftpdlib" && /server_cpu/) {
        print k, $1, $2}' "$info.out" >> "$results"
    grep '^slowest' "$info.out" | sed "s/^/$key /" >> "$work/slowest.txt" || true
    # CPU seconds the FTP server has used so far. Only the tests' server, a single process, is measured:
    # vsftpd's sessions end as processes of their own, whose time nothing reliably adds up.
    server_cpu() { awk -v t="$(getconf CLK_TCK)" '{sub(/.*\) /, ""); print ($12 + $13) / t}' "/proc/$server_pid/stat"; }
    # Seconds of one lftp command, the CPU seconds lftp itself used (user and system) and the server's.
    timed() { # metric commands
        local start cpu before
        before=$(server_cpu)
        start=$(date +%s.%N)
        cpu=$( { TIMEFORMAT='%U %S'; time lftp_run "$2"; } 2>&1 | tail -1)
        echo "$key $1 $(seconds "$start")" >> "$results"
        echo "$key ${1}_cpu $(echo "$cpu" | awk '{print $1 + $2}')" >> "$results"
        if [ "$server" = pyftpdlib ]; then
            echo "$key ${1}_server_cpu $(echo "$(server_cpu) - $before" | bc)" >> "$results"
        fi
    }
    timed lftp_mirror_up "mkdir -p l1; mirror -R $work/$set l1/s"
    mkdir -p "$info.d1" "$info.d4"
    timed lftp_mirror_down "mirror l1/s $info.d1"
    timed lftp_mirror4_up "mkdir -p l4; mirror -R --parallel=4 $work/$set l4/s"
    timed lftp_mirror4_down "mirror --parallel=4 l4/s $info.d4"
    mv "$info.d1" "$info.d4" "$BENCH_KEEP_DIR/"
    if [ "$large" = 1 ]; then
        sync
        timed lftp_put "put $work/large.dwg -o big.dwg"
        timed lftp_get "get big.dwg -o $info.big"
        mv "$info.big" "$BENCH_KEEP_DIR/"
    fi
    touch "$info.finish"; wait $bench_pid || true; bench_pid=""
    if [ -n "${BEFORE:-}" ]; then
        local binfo="$info.before"
        if [ "$server" = vsftpd ]; then
            local aside2="$BENCH_KEEP_DIR/vsftpd-$RANDOM$RANDOM"
            mkdir -p "$aside2"
            find "$work/vsftpd-root" -mindepth 1 -maxdepth 1 -exec mv -t "$aside2" {} +
        fi
        BENCH_FTP="$external" "$BEFORE/bin/batch_bench" "$work/$set" "$binfo" "$backend" "" "$CONNECTIONS" \
            > "$binfo.out" 2>&1 &
        bench_pid=$!
        while [ ! -f "$binfo.done" ]; do
            if ! kill -0 $bench_pid 2>/dev/null; then cat "$binfo.out"; echo "earlier build failed"; exit 1; fi
            sleep 0.2
        done
        touch "$binfo.finish"; wait $bench_pid || true; bench_pid=""
        awk -v k="$key" '/^velda_check(in|out)_seconds/ {print k, "before_" $1, $2}' "$binfo.out" >> "$results"
    fi
    # The few large files go now; what the run wrote reaches the disk before the next run starts, so
    # that no run pays for the writing of the one before.
    find "$BENCH_KEEP_DIR" -type f -size +16M -delete
    sync
}

servers=()
for server in $SERVERS; do
    if [ "$server" != vsftpd ] || start_vsftpd; then servers+=("$server"); fi
done
for server in "${servers[@]}"; do
    for backend in sqlite postgresql; do
        for run in $(seq 1 "$RUNS"); do
            run_case "$server" "$backend" set1 "${N}x${KB}KB" 1
            run_case "$server" "$backend" set2 "5000x20KB" 0
        done
    done
done

# Median and spread of one figure: "median (min-max)".
figure() { # "server backend" label metric
    awk -v k="$1 $2" -v m="$3" '$1" "$2" "$3==k && $4==m {print $5}' "$results" | sort -g |
        awk '{v[NR]=$1} END {if (NR==0) {print "-"; exit} med=(NR%2)?v[(NR+1)/2]:(v[NR/2]+v[NR/2+1])/2;
             printf "%.3f (%.3f-%.3f)", med, v[1], v[NR]}'
}
median() { figure "$@" | awk '{print $1}'; }
ratio() { echo "scale=2; $1 / $2" | bc; }

echo "machine: $(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg) (shared: figures vary with the load)"
echo "runs per figure: $RUNS; connections per server: $CONNECTIONS; figures are median (min-max) seconds"
for server in "${servers[@]}"; do
for backend in "$server sqlite" "$server postgresql"; do
    for label in "${N}x${KB}KB" "5000x20KB"; do
        echo "== $backend, $label"
        for m in velda_checkin_seconds velda_checkin_cpu_seconds velda_checkin_server_cpu_seconds lftp_mirror_up \
                 lftp_mirror_up_cpu lftp_mirror4_up lftp_mirror4_up_server_cpu velda_checkout_seconds \
                 velda_checkout_cpu_seconds velda_checkout_server_cpu_seconds lftp_mirror_down lftp_mirror_down_cpu \
                 lftp_mirror4_down lftp_mirror4_down_server_cpu batch_peak_mb; do
            printf "  %-24s %s\n" "$m" "$(figure "$backend" "$label" "$m")"
        done
        vin=$(median "$backend" "$label" velda_checkin_seconds); vout=$(median "$backend" "$label" velda_checkout_seconds)
        if [ -n "${BEFORE:-}" ]; then
            echo "  check-in / earlier build:             $(ratio "$vin" "$(median "$backend" "$label" before_velda_checkin_seconds)")   (goal <= 1.0)"
            echo "  check-out / earlier build:            $(ratio "$vout" "$(median "$backend" "$label" before_velda_checkout_seconds)")   (goal <= 1.0)"
        fi
        echo "  check-in / lftp mirror:               $(ratio "$vin" "$(median "$backend" "$label" lftp_mirror_up)")   (goal <= 0.8)"
        echo "  check-in / lftp mirror --parallel=4:  $(ratio "$vin" "$(median "$backend" "$label" lftp_mirror4_up)")   (goal <= 1.2)"
        echo "  check-out / lftp mirror:              $(ratio "$vout" "$(median "$backend" "$label" lftp_mirror_down)")   (goal <= 0.8)"
        echo "  check-out / lftp mirror --parallel=4: $(ratio "$vout" "$(median "$backend" "$label" lftp_mirror4_down)")   (goal <= 1.2)"
        echo "  CPU seconds, ours / lftp mirror: check-in $(ratio "$(median "$backend" "$label" velda_checkin_cpu_seconds)" "$(median "$backend" "$label" lftp_mirror_up_cpu)"), check-out $(ratio "$(median "$backend" "$label" velda_checkout_cpu_seconds)" "$(median "$backend" "$label" lftp_mirror_down_cpu)") (a database server not counted)"
        [ "$server" = pyftpdlib ] && echo "  the FTP server's CPU seconds, ours / lftp mirror --parallel=4: check-in $(ratio "$(median "$backend" "$label" velda_checkin_server_cpu_seconds)" "$(median "$backend" "$label" lftp_mirror4_up_server_cpu)"), check-out $(ratio "$(median "$backend" "$label" velda_checkout_server_cpu_seconds)" "$(median "$backend" "$label" lftp_mirror4_down_server_cpu)")"
        echo "  the batch thread's time by phase (transfers: waiting for them; they overlap plan and rows):"
        for m in $(awk -v k="$backend $label" '$1" "$2" "$3==k && $4 ~ /^phase_/ {print $4}' "$results" | sort -u); do
            printf "    %-36s %s\n" "$m" "$(figure "$backend" "$label" "$m")"
        done
    done
    label="${N}x${KB}KB"
    echo "== $backend, one drawing of $LARGE_MB MB"
    for m in large_checkin_seconds lftp_put large_checkout_seconds lftp_get large_peak_growth_mb; do
        printf "  %-24s %s\n" "$m" "$(figure "$backend" "$label" "$m")"
    done
    echo "  check-in / lftp put:   $(ratio "$(median "$backend" "$label" large_checkin_seconds)" "$(median "$backend" "$label" lftp_put)")   (goal <= 1.2)"
    echo "  check-out / lftp get:  $(ratio "$(median "$backend" "$label" large_checkout_seconds)" "$(median "$backend" "$label" lftp_get)")   (goal <= 1.2)"
done
done
echo "== slowest files (gap between successive files; a group's files arrive together)"
sort -k5 -g -r "$work/slowest.txt" | head -8
