#!/usr/bin/env bash
# Builds VELDA and starts it. On first use it creates the local database with its reference data
# and chooses the local database ("None"), then opens the login dialog.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"
velda_install
velda_build
"$VELDA_BUILD/bin/velda-initdb" --local
exec "$VELDA_BUILD/bin/velda" "$@"
