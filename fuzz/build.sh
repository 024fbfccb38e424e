#!/usr/bin/env bash
# Builds the libFuzzer targets with clang, AddressSanitizer and UndefinedBehaviorSanitizer.
#   fuzz/build.sh [build folder]        (default: build-fuzz beside the sources)
# FUZZ_JOBS sets the number of parallel compilers (default: every core); ccache is used when present.
# Run one:  build-fuzz/project_load_fuzz fuzz/corpus/project -max_total_time=60
# New inputs found go to the first corpus folder; keep only small, interesting ones.
# The model and processing layers are compiled once into archives that every target links.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=${1:-$root/build-fuzz}
# Objects of sources that no longer exist must not reach the archives.
rm -rf "$out/obj"
mkdir -p "$out/obj/model" "$out/obj/processing"
CXX=${CXX:-clang++}
jobs=${FUZZ_JOBS:-$(nproc 2>/dev/null || echo 2)}
if command -v ccache >/dev/null 2>&1; then
  export CCACHE_BASEDIR=$root CCACHE_NOHASHDIR=1
  compile=(ccache "$CXX")
else
  compile=("$CXX")
fi

common=(-std=c++20 -O1 -g -fno-omit-frame-pointer -fsanitize=address,undefined -I"$root")
model_libs=($(pkg-config --libs icu-uc icu-i18n) -lpthread)
# The same libraries as the processing layer in CMakeLists.txt (Ogg Vorbis decodes through libvorbisfile).
processing_libs=($(pkg-config --libs libavformat libavcodec libavutil libswresample soxr fftw3f rubberband vorbisfile)
  "${model_libs[@]}")

# Compiles every source of a layer (in parallel) and archives the objects.
archive() {
  local layer=$1
  local flags=("${common[@]}" -fsanitize=fuzzer-no-link $(pkg-config --cflags icu-uc))
  printf '%s\n' "$root/$layer"/*.cpp |
    xargs -P "$jobs" -I{} sh -c '"$0" "$@" -c "{}" -o "'"$out/obj/$layer"'/$(basename "{}" .cpp).o"' "${compile[@]}" "${flags[@]}"
  rm -f "$out/lib$layer.a"
  ar rcs "$out/lib$layer.a" "$out/obj/$layer"/*.o
}
archive model
archive processing

link() {
  local source=$1 name=$2; shift 2
  "$CXX" "${common[@]}" -fsanitize=fuzzer "$root/fuzz/$source" "$@" -o "$out/$name"
  echo "built $out/$name"
}
link ProjectLoadFuzz.cpp project_load_fuzz "$out/libmodel.a" "${model_libs[@]}"
link FavoritesLoadFuzz.cpp favorites_load_fuzz "$out/libmodel.a" "${model_libs[@]}"
link TranslationTableFuzz.cpp translation_table_fuzz "$out/libmodel.a" "${model_libs[@]}"
link RecoveryInfoFuzz.cpp recovery_info_fuzz "$out/libmodel.a" "${model_libs[@]}"
link DecodeFuzz.cpp decode_fuzz "$out/libprocessing.a" "$out/libmodel.a" "${processing_libs[@]}"
