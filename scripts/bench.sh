#!/usr/bin/env bash
# Builds in Release, runs the benchmarks of bench/ under Wine with Xvfb and
# prints a Markdown table of the figures, then one "ratio NAME VALUE" line
# per figure. Each figure compares the agent with a baseline measured in the
# same run. ORSANTO_BENCH_BUILD_TYPE chooses another build type.
set -euo pipefail
ORSANTO_BUILD_DIR=${ORSANTO_BUILD_DIR:-$(cd "$(dirname "$0")/.." && pwd)/build/bench}
source "$(dirname "$0")/lib.sh"
trap orsanto_cleanup EXIT

figures=(handoff_latency handoff_latency_logged handoff_latency_design log_append parallel_jobs idle_cpu growth_after_jobs startup)
[[ $# -gt 0 ]] && figures=("$@")

orsanto_install
orsanto_build -DCMAKE_BUILD_TYPE="${ORSANTO_BENCH_BUILD_TYPE:-Release}" -DBUILD_TESTING=OFF
orsanto_start_display
orsanto_start_wine

# The bench runs from a folder of its own inside the prefix: the build folder
# also holds the stand-in auxiliary programs, which must not lie beside it.
run_dir=$WINEPREFIX/drive_c/orsanto-bench/bin
mkdir -p "$run_dir"
for program in orsanto-agent orsanto-bench orsanto-bench-minimal orsanto-bench-handoff; do
  cp "$ORSANTO_BIN/$program.exe" "$run_dir/"
done

results=$(mktemp)
bench() {
  orsanto_log "bench $1"
  # Wine's C runtime ends lines with CR LF.
  if ! wine 'C:\orsanto-bench\bin\orsanto-bench.exe' "$@" </dev/null | tr -d '\r' >>"$results"; then
    orsanto_log "bench $1 failed"
  fi
}
bench steps
for figure in "${figures[@]}"; do
  bench "$figure"
  grep -q "^result	$figure	" "$results" || printf 'result\t%s\t-\t-\t-\tno result\t-\t-\t-\t-\tno\n' "$figure" >>"$results"
done

echo
echo "Cost of single steps here (microseconds unless the name says otherwise):"
echo
echo "| step | median | p10 | p90 | note |"
echo "|---|---|---|---|---|"
awk -F'\t' '$1 == "step" { printf "| %s | %s | %s | %s | %s |\n", $2, $3, $4, $5, $6 }' "$results"
echo
echo "| figure | unit | agent | baseline | ratio | ratio spread | goal | met | spread of the values |"
echo "|---|---|---|---|---|---|---|---|---|"
awk -F'\t' '$1 == "result" { printf "| %s | %s | %s | %s | %s | %s-%s | %s | %s | %s |\n", $2, $3, $4, $5, $7, $8, $9, $10, $11, $6 }' "$results"
echo
awk -F'\t' '$1 == "result" { printf "ratio %s %s\n", $2, $7 }' "$results"
rm -f "$results"
