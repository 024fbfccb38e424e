#!/usr/bin/env bash
# Installs what is missing, configures, builds and runs every test.
#   ./test.sh             the normal build (with the benchmarks, each run once on tiny input)
#   ./test.sh --sanitize  the tests again, built with AddressSanitizer and UndefinedBehaviorSanitizer
#                         in a second build folder; the first finding fails the test it stops
# With CI=true a test skipped without being named in tests/skips-allowed.txt fails the run.
set -euo pipefail
cd "$(dirname "$0")"
root=$(pwd)

sanitize=0
case "${1:-}" in
  "") ;;
  --sanitize) sanitize=1 ;;
  *) echo "usage: ./test.sh [--sanitize]" >&2; exit 2 ;;
esac

bash scripts/setup-deps.sh

jobs=$(nproc 2>/dev/null || echo 2)

# Tests never touch the user's real settings, data or runtime folders.
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir -p "$scratch/runtime" "$scratch/config" "$scratch/data"
chmod 700 "$scratch/runtime"
export XDG_RUNTIME_DIR="$scratch/runtime"
export XDG_CONFIG_HOME="$scratch/config"
export XDG_DATA_HOME="$scratch/data"
export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}

if command -v ccache >/dev/null 2>&1; then
  export CCACHE_BASEDIR="$root" CCACHE_NOHASHDIR=1
fi

if [ "$sanitize" -eq 0 ]; then
  build=${TESSORAL_BUILD_DIR:-$root/build}
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release
else
  build=${TESSORAL_SANITIZE_BUILD_DIR:-$root/build-sanitize}
  # The benchmarks are not built here: they time code, and their smoke run is the normal build's.
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTESSORAL_SANITIZE=ON -DTESSORAL_BENCH=OFF
  # Also for the build itself: test discovery runs the test programs.
  # Leak detection stays on, except for what system libraries under Qt keep (.ci/lsan.supp).
  export ASAN_OPTIONS=detect_leaks=1:halt_on_error=1:check_initialization_order=1
  export LSAN_OPTIONS=suppressions="$root/.ci/lsan.supp":print_suppressions=0
  export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
fi
cmake --build "$build" -j "$jobs"
ctest --test-dir "$build" --output-on-failure -j "$jobs" --timeout 900 --output-junit "$build/ctest-results.xml"

# In CI a skipped test fails the run, apart from the ones skipped on purpose (tests/skips-allowed.txt):
# a machine without a tool the tests need must not pass them unrun.
if [ "${CI:-}" = true ]; then
  flags=()
  if [ "$sanitize" -eq 1 ]; then flags+=(--sanitize); fi
  python3 scripts/check-skips.py "$build/ctest-results.xml" tests/skips-allowed.txt "${flags[@]}"
fi
