#!/usr/bin/env bash
# Runs the benchmarks in a scratch folder and prints each operation beside raw SQLite.
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
cp "$build/run.dll" "$work/run.dll"
QT_QPA_PLATFORM=offscreen "$build/bench/tslbench" --benchmark_repetitions="${BENCH_REPS:-3}" \
  --benchmark_report_aggregates_only=true "${@:2}"
