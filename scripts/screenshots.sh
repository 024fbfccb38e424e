#!/usr/bin/env bash
# Renders named states of the real window and its dialogs offscreen, in Russian and English,
# to build/screenshots/ for review: the empty window, the three-clip demo in the multitrack mode,
# the error alert, the save and recovery questions, the processing inspector with a clip, the
# waveform editor with a selection, and the export and speed-and-pitch sheets.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=${TESSORAL_BUILD_DIR:-$root/build}
out=${1:-$build/screenshots}

if command -v ccache >/dev/null 2>&1; then
  export CCACHE_BASEDIR="$root" CCACHE_NOHASHDIR=1
fi
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release
fi
cmake --build "$build" --target tessoral-shot

mkdir -p "$out"
for lang in ru en; do
  QT_QPA_PLATFORM=offscreen "$build/tools/screenshots/tessoral-shot" "$out" "$lang"
done
echo "screenshots in $out"
