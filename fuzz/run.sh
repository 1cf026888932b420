#!/usr/bin/env bash
# Builds the fuzz targets and runs each for SECONDS (default 60) from the seed
# corpora; fails on any finding. Usage: fuzz/run.sh [SECONDS] [WORKDIR]
# Each target's figures are printed (its last status line and final stats);
# its full log stays in WORKDIR. Without WORKDIR, a temporary folder is used
# and removed on exit; the inputs of a finding are then kept in
# build-fuzz/findings-TARGET.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-60}
if [ $# -ge 2 ]; then
  work=$2
  mkdir -p "$work"
else
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
fi
# Absolute: the fuzz targets work from a scratch folder of their own.
work=$(cd "$work" && pwd)
cd "$root"
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$(nproc 2>/dev/null || echo 2)"
seeds=$root/build-fuzz/fuzz/seeds
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

# libFuzzer ends every run with a "recommended dictionary" of many lines;
# it says nothing about the run, so it is left out of what is shown.
without_dictionary() {
  awk '/^###### Recommended dictionary/ {skip = 1} !skip {print} /^###### End of recommended dictionary/ {skip = 0}' "$1"
}

for target in reader cut lister compare raw split filesystem merge make; do
  corpus=$work/corpus-$target
  findings=$work/findings-$target
  log=$work/$target.log
  mkdir -p "$corpus" "$findings"
  echo "== ${target}_fuzzer for ${seconds}s"
  # Outputs go to the fuzzer's scratch folder; -close_fd_mask keeps the
  # command's own messages out of the log, not the sanitizers' reports.
  # d88ls, d88raw and d88split read the same images as the reader: they
  # share the reader's seeds.
  seed=$seeds/$target
  [ -d "$seed" ] || seed=$seeds/reader
  status=0
  "$root/build-fuzz/bin/${target}_fuzzer" "$corpus" "$seed" \
    -max_total_time="$seconds" -max_len=200000 -timeout=20 -rss_limit_mb=2048 \
    -close_fd_mask=3 -print_final_stats=1 \
    -artifact_prefix="$findings/" >"$log" 2>&1 || status=$?
  if [ "$status" -ne 0 ]; then
    without_dictionary "$log" | tail -n 60
    kept=$root/build-fuzz/findings-$target
    rm -rf "$kept" && cp -r "$findings" "$kept"
    echo "${target}_fuzzer found a failure (status $status); inputs in $kept" >&2
    exit 1
  fi
  without_dictionary "$log" | grep -E '^#[0-9]+[[:space:]]+DONE|^stat::|^Done [0-9]+ runs'
done
