#!/usr/bin/env bash
# Soak run: builds, then sends ORSANTO_SOAK_JOBS jobs (default 2,000) through
# all three transfer modes against the real agent under Wine and prints the
# summary: jobs, delivered, reported, lost, log records, bad records, handle
# and memory growth. Exits non-zero when any check fails.
set -euo pipefail
ORSANTO_BUILD_DIR=${ORSANTO_BUILD_DIR:-$(cd "$(dirname "$0")/.." && pwd)/build/soak}
source "$(dirname "$0")/lib.sh"
trap orsanto_cleanup EXIT

export ORSANTO_SOAK_JOBS=${ORSANTO_SOAK_JOBS:-2000}

orsanto_install
orsanto_build
orsanto_start_display
orsanto_start_wine
orsanto_log "soak: $ORSANTO_SOAK_JOBS jobs (Wine prefix $WINEPREFIX, display $DISPLAY)"
started=$(date +%s)
status=0
# Run directly rather than through CTest, whose per-test time limit is meant
# for the short version in the normal test run.
wine "$ORSANTO_BIN/orsanto-reliability-tests.exe" --gtest_filter='SoakTest.*' </dev/null 2>&1 \
  | tr -d '\r' | tee "$ORSANTO_BUILD_DIR/soak.log" | grep -E '^soak:|^\[  (PASSED|FAILED) |Failure|unexpected' \
  || true
grep -q '^\[  PASSED  \] 1 test' "$ORSANTO_BUILD_DIR/soak.log" || status=1
orsanto_log "soak took $(( $(date +%s) - started )) s; full output in $ORSANTO_BUILD_DIR/soak.log"
exit $status
