#!/usr/bin/env bash
# Installs what is missing, builds Tessoral and starts it with the given files
# (under a virtual display through xvfb-run when there is no display).
set -euo pipefail

files=()
for f in "$@"; do
  case "$f" in
    -*|/*) files+=("$f") ;;
    *) files+=("$(pwd)/$f") ;;
  esac
done

cd "$(dirname "$0")"
root=$(pwd)
bash scripts/setup-deps.sh

build=${TESSORAL_BUILD_DIR:-$root/build}
if command -v ccache >/dev/null 2>&1; then
  export CCACHE_BASEDIR="$root" CCACHE_NOHASHDIR=1
fi
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release
fi
cmake --build "$build" --target tessoral

program="$build/app/tessoral"
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "run.sh: no display; starting Tessoral under xvfb-run" >&2
  exec xvfb-run -a -s "-screen 0 1600x1000x24" "$program" "${files[@]}"
fi
exec "$program" "${files[@]}"
