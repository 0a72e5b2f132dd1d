#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test under Wine.
set -euo pipefail
source "$(dirname "$0")/lib.sh"
trap orsanto_cleanup EXIT

orsanto_install
orsanto_build
orsanto_start_display
orsanto_start_wine
orsanto_log "running the tests (Wine prefix $WINEPREFIX, display $DISPLAY)"
ctest --preset mingw --test-dir "$ORSANTO_BUILD_DIR" "$@"
