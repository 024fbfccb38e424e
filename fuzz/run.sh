#!/usr/bin/env bash
# Builds the fuzz targets (fuzz/build.sh) and runs each on its committed corpus for a while.
#   fuzz/run.sh [seconds per target] [build folder]     (default: 30 s, build-fuzz beside the sources)
# Prints each target's run count. Fails when the build fails, when a target finds a crash, a leak,
# undefined behaviour or an input slower than 25 s, or when a target runs nothing. Inputs found on
# the way go to a scratch folder, never into fuzz/corpus; a finding is kept in <build>/findings/.
# The mutations start from a fixed seed (FUZZ_SEED, default 1), so a run of the same tree explores
# the same inputs and a CI result does not change by chance; set FUZZ_SEED=0 for a random one.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-30}
out=${2:-$root/build-fuzz}

bash "$root/scripts/setup-deps.sh"  # clang and its fuzzer runtime
"$root/fuzz/build.sh" "$out"

targets=(
  project_load_fuzz:project
  favorites_load_fuzz:favorites
  translation_table_fuzz:translations
  recovery_info_fuzz:recovery
  decode_fuzz:decode
)

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir -p "$out/findings"
failed=()
for entry in "${targets[@]}"; do
  target=${entry%%:*}
  corpus=$root/fuzz/corpus/${entry#*:}
  mkdir -p "$scratch/$target"
  log=$scratch/$target.log
  status=0
  "$out/$target" -max_total_time="$seconds" -timeout=25 -rss_limit_mb=2048 -print_final_stats=1 -seed="${FUZZ_SEED:-1}" \
    -artifact_prefix="$out/findings/$target-" "$scratch/$target" "$corpus" >"$log" 2>&1 || status=$?
  runs=$(sed -n 's/^Done \([0-9]*\) runs.*/\1/p' "$log" | tail -n 1)
  if [ "$status" -ne 0 ] || [ -z "$runs" ] || [ "$runs" -eq 0 ]; then
    echo "fuzz: $target FAILED (exit $status, ${runs:-no} runs); the end of its output:"
    tail -n 60 "$log"
    failed+=("$target")
  else
    echo "fuzz: $target: $runs runs in ${seconds} s on fuzz/corpus/${entry#*:}"
  fi
done

if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzz: failed: ${failed[*]}"
  exit 1
fi
echo "fuzz: all ${#targets[@]} targets ran clean"
