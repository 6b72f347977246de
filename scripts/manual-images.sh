#!/usr/bin/env bash
# Draws every form of the program, offscreen and with sample data, into the manual's picture folder
# (resources/帮助/图片), so that the manual's pictures show the forms as they are now.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"
velda_install
if [ ! -f "$VELDA_BUILD/CMakeCache.txt" ]; then
    cmake -S "$VELDA_ROOT" -B "$VELDA_BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo
fi
cmake --build "$VELDA_BUILD" --target velda-manual-images -j "$(nproc 2>/dev/null || echo 2)"
QT_QPA_PLATFORM=offscreen "$VELDA_BUILD/bin/velda-manual-images" "$VELDA_ROOT/resources/帮助/图片"
