#!/usr/bin/env bash
# Runs every fuzz target in turn for SECONDS each (default 60) under
# AddressSanitizer and UndefinedBehaviorSanitizer, starting from the checked-in
# corpus, and prints the executions and findings of each.
#   bash scripts/fuzz.sh [SECONDS] [TARGET...]   -> build-fuzz/fuzz-runs/<target>/
# With targets named (scan, partitions, ...), only those run. Each target runs
# as one worker per core (FUZZ_WORKERS to choose), sharing one corpus; the
# executions are those of all its workers.
set -euo pipefail
cd "$(dirname "$0")/.."
SECONDS_EACH=${1:-60}
shift || true
ONLY=" $* "
BUILD=${FUZZ_BUILD_DIR:-build-fuzz}
if [ ! -f "$BUILD/CMakeCache.txt" ]; then
  CC=clang CXX=clang++ cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DHX_FUZZ=ON >/dev/null
fi
cmake --build "$BUILD" -j"$(nproc)" >/dev/null
RUNS=$(realpath -m "$BUILD/fuzz-runs")
mkdir -p "$RUNS"
WORKERS=${FUZZ_WORKERS:-$(nproc)}
printf '%-16s %12s %9s %8s\n' target executions findings workers
status=0
for bin in "$BUILD"/fuzz/fuzz_*; do
  [ -x "$bin" ] || continue
  bin=$(realpath "$bin"); name=$(basename "$bin"); short=${name#fuzz_}
  [ "$ONLY" = "  " ] || [[ "$ONLY" == *" $short "* ]] || continue
  work="$RUNS/$short"; rm -rf "$work"; mkdir -p "$work/corpus" "$work/findings"
  cp -r fuzz/corpus/"$short"/. "$work/corpus/" 2>/dev/null || true
  # Whole media: a GPT with 128 entries fits in 20 KB, a FAT12 card with a
  # photo in 12 KB; longer inputs only slow the run down.
  case $short in
    partitions) limit=(-max_len=20480) ;;
    scan) limit=(-max_len=12288) ;;
    *) limit=() ;;
  esac
  # libFuzzer writes each worker's log as fuzz-<n>.log in the folder it runs in.
  (cd "$work" && "$bin" -jobs="$WORKERS" -workers="$WORKERS" -max_total_time="$SECONDS_EACH" -print_final_stats=1 \
       -artifact_prefix="$work/findings/" "${limit[@]}" "$work/corpus" >"$work/log" 2>&1) || true
  runs=$(cat "$work"/fuzz-*.log 2>/dev/null | grep -o 'stat::number_of_executed_units: *[0-9]*' | grep -o '[0-9]*$' |
         awk '{ s += $1 } END { print s + 0 }')
  found=$(find "$work/findings" -type f | wc -l)
  [ "$found" -eq 0 ] || status=1
  printf '%-16s %12s %9s %8s\n' "$short" "${runs:-0}" "$found" "$WORKERS"
done
exit $status
