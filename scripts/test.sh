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
# No --preset here: the preset's binaryDir would win over --test-dir.
ctest --test-dir "$ORSANTO_BUILD_DIR" --output-on-failure -j1 --timeout 300 "$@"
