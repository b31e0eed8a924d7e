#!/usr/bin/env bash
# Runs the benchmarks in a scratch folder (the generated ledgers are made there)
# and prints one table of every operation at 1,000 / 100,000 / 1,000,000 rows
# beside raw SQLite. BENCH_REPS repetitions (default 3); further arguments go to
# the benchmark program (e.g. --benchmark_filter=workspace/).
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
cp "$build/run.dll" "$work/run.dll"
mkdir -m 700 "$work/runtime"
export XDG_RUNTIME_DIR="$work/runtime"
# Repetitions of every benchmark run in random order, so a change of load while
# it runs falls on the program's side and the raw side alike.
QT_QPA_PLATFORM=offscreen "$build/bench/tslbench" --benchmark_repetitions="${BENCH_REPS:-3}" \
  --benchmark_enable_random_interleaving=true --benchmark_report_aggregates_only=true "${@:2}"
