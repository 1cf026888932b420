#!/usr/bin/env bash
# Builds the fuzz targets and runs each for SECONDS (default 60) from the seed
# corpora; fails on any finding. Usage: fuzz/run.sh [SECONDS] [WORKDIR]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-60}
work=${2:-$(mktemp -d)}
mkdir -p "$work"
# Absolute: the fuzz targets work from a scratch folder of their own.
work=$(cd "$work" && pwd)
cd "$root"
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$(nproc 2>/dev/null || echo 2)"
seeds=$root/build-fuzz/fuzz/seeds
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
for target in reader cut lister; do
  corpus=$work/corpus-$target
  mkdir -p "$corpus" "$work/findings-$target"
  echo "== ${target}_fuzzer for ${seconds}s (corpus $corpus)"
  # Outputs go to the fuzzer's scratch folder; -close_fd_mask keeps the
  # command's own messages out of the log, not the sanitizers' reports.
  # d88ls reads the same images as the reader: it shares the reader's seeds.
  seed=$seeds/$target
  [ -d "$seed" ] || seed=$seeds/reader
  "$root/build-fuzz/bin/${target}_fuzzer" "$corpus" "$seed" \
    -max_total_time="$seconds" -max_len=200000 -timeout=20 -rss_limit_mb=2048 \
    -close_fd_mask=3 -print_final_stats=1 \
    -artifact_prefix="$work/findings-$target/" 2>&1 | tail -n 25
  status=${PIPESTATUS[0]}
  if [ "$status" -ne 0 ]; then
    echo "${target}_fuzzer found a failure (status $status); inputs in $work/findings-$target" >&2
    exit 1
  fi
done
