#!/usr/bin/env bash
# Measures d88split and d88raw against the commands they are held to:
#   - d88split of a file of 64 2HD disks (64 x 1.2 MiB) takes at most 1.5 x
#     what `cp` takes to copy the same file;
#   - d88raw of one 2HD disk takes at most 1.5 x what d88cut takes on it
#     (process start is most of both).
#
# Usage: scripts/bench-whole.sh BINDIR [OUTFILE]
#
#   BINDIR   holds d88split, d88raw, d88cut and make_sample_image (the release
#            build: build-release/bin)
#   OUTFILE  the Markdown table is also written there (bench/results/whole.md)
#
# Each command runs 3 times in a scratch folder emptied before every run; the
# table shows the best wall time (taken with $EPOCHREALTIME, less the cost of
# the measuring itself, timed on `true`) and the highest peak RSS
# (`/usr/bin/time -f '%e %M'`). The images are made in a temporary folder
# under $TMPDIR that is removed on exit. Run the whole script under `nice` on
# a busy machine, so that the reference and the programs are measured alike:
#
#   cmake --preset release && cmake --build --preset release -j2 \
#     --target d88split d88raw d88cut make_sample_image
#   nice -n 10 scripts/bench-whole.sh build-release/bin bench/results/whole.md
set -euo pipefail
export LC_ALL=C  # a '.' in $EPOCHREALTIME and in awk's numbers

[[ $# -ge 1 && $# -le 2 ]] || { echo "Usage: $0 BINDIR [OUTFILE]" >&2; exit 2; }
bindir=$(cd "$1" && pwd)
outfile=${2:-}
for exe in d88split d88raw d88cut make_sample_image; do
  [[ -x $bindir/$exe ]] || { echo "$0: $bindir/$exe is not an executable" >&2; exit 2; }
done
[[ -x /usr/bin/time ]] || { echo "$0: /usr/bin/time is needed (Debian package time)" >&2; exit 2; }

runs=3
ratio_goal=1.5
work=$(mktemp -d "${TMPDIR:-/tmp}/bench-whole.XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir "$work/images"

"$bindir/make_sample_image" "$work/images/one.d88" >/dev/null
for _ in $(seq 64); do cat "$work/images/one.d88"; done >"$work/images/many.d88"

overhead=0
# run_once CMD...: runs CMD in an empty scratch folder; sets r_secs and r_rss (KiB).
run_once() {
  rm -rf "$work/scratch" "$work/time.out"
  mkdir "$work/scratch"
  local t0 t1 status=0
  t0=$EPOCHREALTIME
  (cd "$work/scratch" && exec /usr/bin/time -f '%e %M' -o "$work/time.out" "$@") \
    >/dev/null 2>&1 || status=$?
  t1=$EPOCHREALTIME
  [[ $status -eq 0 ]] || { echo "$0: $* exited with status $status" >&2; exit 1; }
  r_secs=$(awk -v a="$t0" -v b="$t1" -v o="$overhead" \
    'BEGIN { t = b - a - o; printf "%.4f", (t > 0.0001 ? t : 0.0001) }')
  r_rss=$(tail -n 1 "$work/time.out" | awk '{ print $2 }')
}

# measure CMD...: best time and highest RSS of $runs runs: m_secs, m_rss.
measure() {
  m_secs="" m_rss=0
  local i
  for ((i = 0; i < runs; i++)); do
    run_once "$@"
    if [[ -z $m_secs ]] || awk -v a="$r_secs" -v b="$m_secs" 'BEGIN { exit !(a < b) }'; then
      m_secs=$r_secs
    fi
    [[ $r_rss -le $m_rss ]] || m_rss=$r_rss
  done
}

measure true
overhead=$m_secs

table=$work/table.md
{
  echo "Best of $runs, wall time less the measuring's own cost (${overhead} s, timed on \`true\`);"
  echo "peak RSS as \`/usr/bin/time -f '%e %M'\` reports it. Goal: at most ${ratio_goal} x the reference."
  echo
  echo "| image | size | command | seconds | peak RSS (MiB) | against the reference | result |"
  echo "|---|---|---|---:|---:|---|---|"
} >"$table"

row() {  # IMAGE SIZE COMMAND SECS RSS REFERENCE_SECS
  local ratio verdict="reference" against="1x"
  if [[ -n $6 ]]; then
    ratio=$(awk -v t="$4" -v r="$6" 'BEGIN { printf "%.2f", t / r }')
    against="${ratio}x"
    verdict=$(awk -v x="$ratio" -v g="$ratio_goal" 'BEGIN { print (x <= g ? "PASS" : "FAIL") }')
  fi
  echo "| $1 | $2 | $3 | $4 | $(awk -v k="$5" 'BEGIN { printf "%.1f", k / 1024 }') | $against | $verdict |" >>"$table"
  echo "$3: $4 s, $5 KiB" >&2
}

many=$work/images/many.d88
one=$work/images/one.d88
many_size="$(awk -v b="$(stat -c %s "$many")" 'BEGIN { printf "%.1f MiB", b / 1048576 }')"
one_size="$(awk -v b="$(stat -c %s "$one")" 'BEGIN { printf "%.1f MiB", b / 1048576 }')"

measure cp "$many" copy.d88
cp_secs=$m_secs
row "64 x 2HD" "$many_size" "cp IMAGE copy.d88" "$m_secs" "$m_rss" ""
measure "$bindir/d88split" "$many"
row "64 x 2HD" "$many_size" "d88split IMAGE" "$m_secs" "$m_rss" "$cp_secs"

measure "$bindir/d88cut" "$one"
cut_secs=$m_secs
row "2HD" "$one_size" "d88cut IMAGE" "$m_secs" "$m_rss" ""
measure "$bindir/d88raw" "$one" out.img
row "2HD" "$one_size" "d88raw IMAGE out.img" "$m_secs" "$m_rss" "$cut_secs"
measure "$bindir/d88raw" --map out.json "$one" out.img
row "2HD" "$one_size" "d88raw --map out.json IMAGE out.img" "$m_secs" "$m_rss" "$cut_secs"

cat "$table"
if [[ -n $outfile ]]; then
  cp "$table" "$outfile"
  echo "written to $outfile" >&2
fi
