#!/usr/bin/env bash
# Builds the Debian package from the build folder and checks what it installs and what it needs.
set -euo pipefail
build="$(cd "$1" && pwd)"
out="$(mktemp -d)"
trap 'rm -rf "$out"' EXIT
cd "$build"
cpack -G DEB -B "$out" >"$out/cpack.log" 2>&1 || { cat "$out/cpack.log"; exit 1; }
deb="$(ls "$out"/velda_*.deb)"
files="$(dpkg-deb -c "$deb" | awk '{print $6}')"
fail=0
for f in ./usr/bin/velda ./usr/bin/velda-initdb ./usr/bin/velda-preview \
         ./usr/lib/velda/velda ./usr/lib/velda/velda-initdb ./usr/lib/velda/velda-preview \
         ./usr/lib/velda/帮助/velda.html ./usr/share/applications/velda.desktop \
         ./usr/share/icons/hicolor/scalable/apps/velda.svg; do
    grep -qxF -- "$f" <<<"$files" || { echo "missing from the package: $f"; fail=1; }
done
# Every picture the manual shows is in the package.
for img in $(grep -o 'src="[^"]*"' "$build/bin/帮助/velda.html" | sed 's/^src="//; s/"$//'); do
    grep -qxF -- "./usr/lib/velda/帮助/$img" <<<"$files" || { echo "manual picture missing: $img"; fail=1; }
done
# Nothing of the tests or the build tree.
if grep -E 'test_|/build/|\.a$' <<<"$files"; then echo "test or build files in the package"; fail=1; fi
depends="$(dpkg-deb -f "$deb" Depends)"
for d in libqt6widgets6 libqt6sql6-sqlite libpq5 libcurl4 fonts-noto-cjk; do
    grep -q "\b$d\b" <<<"$depends" || { echo "missing dependency: $d ($depends)"; fail=1; }
done
# Every dependency is a Debian package: installed here (setup.sh installs them all) or known to apt.
for d in $(tr ',' '\n' <<<"$depends" | sed 's/(.*)//; s/ //g'); do
    dpkg-query -W -f='${Status}' "$d" 2>/dev/null | grep -q "install ok installed" ||
        apt-cache show "$d" >/dev/null 2>&1 || { echo "not a Debian package: $d"; fail=1; }
done
desktop="$(dpkg-deb --fsys-tarfile "$deb" | tar -xO ./usr/share/applications/velda.desktop)"
grep -qx 'Name\[zh_CN\]=VELDA产品数据管理' <<<"$desktop" || { echo "no Chinese name in the menu entry"; fail=1; }
grep -qx 'Exec=velda' <<<"$desktop" || { echo "menu entry does not start velda"; fail=1; }
[ "$fail" -eq 0 ] && echo "package ok: $(wc -l <<<"$files") entries"
exit "$fail"
