#!/usr/bin/env bash
# Runs every benchmark on full-size input; each figure is printed beside its peer from the same run.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${TESSORAL_BUILD_DIR:-build}
cmake --build "$build" --target tessoral_bench
"$build/bench/tessoral_bench" --benchmark_counters_tabular=true "$@"
