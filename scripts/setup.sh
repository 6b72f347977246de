#!/usr/bin/env bash
# Installs what VELDA needs from Debian's archive (skipping what is present), then configures and
# builds incrementally into build/. Sourced by run.sh and test.sh.
set -euo pipefail

VELDA_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
VELDA_BUILD="${VELDA_BUILD:-$VELDA_ROOT/build}"

# Besides the build and the libraries, every program the tests, benchmarks and scripts start that a
# minimal Debian lacks: psql (office, benchmarks), sqlite3 and lftp (benchmarks), bc (benchmark
# arithmetic), file and dpkg-dev (CPack's DEB generator), the
# office suite and poppler's tools (reading reports back), groff-base (setting the manual page),
# openssl (the office's and the tests' certificates) and python3-openssl (the tests' FTP server over
# TLS), vsftpd (the C FTP server offices run: tests and benchmarks start their own on loopback), xdg-utils (opening a drawing with the desktop's program). zlib unpacks the workbooks an office
# imports; libssl's libcrypto computes the pinned keys' fingerprints; libpq speaks to the database server.
# Coreutils, util-linux (runuser, flock, setsid), mawk, tar and apt come with every Debian.
velda_packages=(
    g++ cmake make pkg-config
    qt6-base-dev qt6-base-dev-tools libqt6sql6-sqlite libqt6sql6-psql libgl-dev
    libcurl4-openssl-dev libxlsxwriter-dev libsqlite3-dev sqlite3 zlib1g-dev libssl-dev libpq-dev
    libgtest-dev
    postgresql postgresql-client python3 python3-pyftpdlib python3-openssl openssl lftp bc vsftpd
    fonts-noto-cjk xvfb xauth qt6-translations-l10n
    libqt6svg6 dpkg-dev file xdg-utils
    libreoffice-calc-nogui fonts-crosextra-carlito poppler-utils groff-base
)

velda_install() {
    local missing=() installed
    # One query for the whole list: a start with nothing to install should not wait on it.
    installed="$(dpkg-query -W -f='${Package} ${Status}\n' "${velda_packages[@]}" 2>/dev/null |
        awk '$NF == "installed" && $(NF-1) == "ok" { print $1 }')" || true
    for p in "${velda_packages[@]}"; do
        if ! grep -qxF -- "$p" <<<"$installed"; then
            missing+=("$p")
        fi
    done
    if [ ${#missing[@]} -eq 0 ]; then
        return 0
    fi
    echo "== installing: ${missing[*]}"
    local sudo=""
    if [ "$(id -u)" -ne 0 ]; then
        sudo="sudo"
    fi
    export DEBIAN_FRONTEND=noninteractive
    $sudo apt-get update -qq
    $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
    # The package starts a system-wide FTP server on port 21; the tests and benchmarks run their own.
    if printf '%s\n' "${missing[@]}" | grep -qx vsftpd; then
        if command -v systemctl >/dev/null && systemctl is-active -q vsftpd 2>/dev/null; then
            $sudo systemctl disable --now -q vsftpd || true
        elif command -v service >/dev/null; then
            $sudo service vsftpd stop >/dev/null 2>&1 || true
        fi
    fi
}

velda_build() {
    local jobs
    jobs="$(nproc 2>/dev/null || echo 2)"
    if [ ! -f "$VELDA_BUILD/CMakeCache.txt" ]; then
        cmake -S "$VELDA_ROOT" -B "$VELDA_BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo
    fi
    cmake --build "$VELDA_BUILD" -j "$jobs"
    touch "$VELDA_BUILD/.velda-built"
}

# The build, unless nothing in the tree changed since the last one finished: a no-op build still
# walks every target's dependencies, which takes half a minute on a small machine.
velda_build_if_changed() {
    local stamp="$VELDA_BUILD/.velda-built"
    if [ -f "$stamp" ] && [ -x "$VELDA_BUILD/bin/velda" ] &&
        [ -z "$(find "$VELDA_ROOT" \( -path "$VELDA_BUILD" -o -path "$VELDA_ROOT/.git" \) -prune -o \
            -newer "$stamp" -type f -print -quit)" ]; then
        return 0
    fi
    velda_build
}
