#!/usr/bin/env bash
# Installs what is missing, configures, builds and runs every test.
set -euo pipefail
cd "$(dirname "$0")"
root=$(pwd)

bash scripts/setup-deps.sh

build=${TESSORAL_BUILD_DIR:-$root/build}
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

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release
cmake --build "$build" -j "$jobs"
ctest --test-dir "$build" --output-on-failure -j "$jobs" --timeout 900
