#!/usr/bin/env bash
# Builds the libFuzzer targets with clang, AddressSanitizer and UndefinedBehaviorSanitizer.
#   fuzz/build.sh [build folder]        (default: build-fuzz beside the sources)
# Run one:  build-fuzz/project_load_fuzz fuzz/corpus/project -max_total_time=60
# New inputs found go to the first corpus folder; keep only small, interesting ones.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=${1:-$root/build-fuzz}
mkdir -p "$out"
CXX=${CXX:-clang++}

flags=(-std=c++20 -O1 -g -fno-omit-frame-pointer -fsanitize=fuzzer,address,undefined -I"$root")
model=("$root"/model/*.cpp)
libs=($(pkg-config --libs icu-uc icu-i18n) -lpthread)

"$CXX" "${flags[@]}" "$root/fuzz/ProjectLoadFuzz.cpp" "${model[@]}" "${libs[@]}" -o "$out/project_load_fuzz"
echo "built $out/project_load_fuzz"
for target in FavoritesLoad:favorites_load_fuzz TranslationTable:translation_table_fuzz; do
  "$CXX" "${flags[@]}" "$root/fuzz/${target%%:*}Fuzz.cpp" "${model[@]}" "${libs[@]}" -o "$out/${target##*:}"
  echo "built $out/${target##*:}"
done
