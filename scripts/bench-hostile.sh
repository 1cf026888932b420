#!/usr/bin/env bash
# Measures d88cut and d88ls on hostile D88 images: wall time and peak resident
# memory of every run, held against the two goals the tools keep on a regular
# file:
#   - peak RSS (as `/usr/bin/time -f %M` reports it) at most 64 MiB;
#   - wall time at most 20 x what sha256sum takes over the same file, or
#     0.05 s when that is more (small files, where process start dominates).
#
# Usage: scripts/bench-hostile.sh [--gen PATH] [--timeout SECONDS] [--mib N] BINDIR [OUTFILE]
#
#   BINDIR      holds d88cut and d88ls, and make_hostile_images unless --gen
#               names it (it is built by the release preset only:
#               build-release/bin/make_hostile_images)
#   OUTFILE     the Markdown tables are also written there
#   --gen PATH  the image generator to use
#   --timeout   seconds a run may take before it is stopped and reported as
#               a timeout (default 300)
#   --mib N     size of the large hostile images in MiB (default 64)
#
# The images (see bench/hostile_images.cpp; ~470 MB at the default size) are
# made in a temporary folder under $TMPDIR that is removed on exit. For each
# image, sha256sum, `d88cut IMAGE` (in a scratch folder, since it writes its
# twenty files into the current one), `d88ls IMAGE` and `d88ls --json IMAGE 0`
# each run under `/usr/bin/time -f '%e %M'` and `timeout`. A run that ends in
# under 2 s is repeated twice more: the table shows the best time and the
# highest peak RSS of the three. sha256sum is always timed best of 3. The time
# the measuring itself takes (a subshell, time and timeout starting, timed on
# `true`) is taken off every run, so that on small files the programs' own
# start is what is compared. Then each
# program runs once more on chain0 and count65535 under `ulimit -v 153600`
# (150 MB of address space), and its exit status is compared with the one it
# gave without the limit (an abort shows 134).
#
# Every run inherits the script's niceness, so on a busy machine run the whole
# script under `nice -n 10`: the reference and the programs are then measured
# alike. Example:
#
#   cmake --preset release && cmake --build --preset release
#   nice -n 10 scripts/bench-hostile.sh build-release/bin bench/results/hostile.md
set -euo pipefail
export LC_ALL=C  # a '.' in $EPOCHREALTIME and in awk's numbers

usage() {
  echo "Usage: $0 [--gen PATH] [--timeout SECONDS] [--mib N] BINDIR [OUTFILE]" >&2
  exit 2
}

gen=""
timeout_s=300
mib=64
while [[ $# -gt 0 ]]; do
  case $1 in
    --gen) [[ $# -ge 2 ]] || usage; gen=$2; shift 2 ;;
    --timeout) [[ $# -ge 2 ]] || usage; timeout_s=$2; shift 2 ;;
    --mib) [[ $# -ge 2 ]] || usage; mib=$2; shift 2 ;;
    -h|--help) usage ;;
    --) shift; break ;;
    -*) usage ;;
    *) break ;;
  esac
done
[[ $# -ge 1 && $# -le 2 ]] || usage
bindir=$(cd "$1" && pwd)
outfile=${2:-}
[[ -n $gen ]] || gen=$bindir/make_hostile_images

d88cut=$bindir/d88cut
d88ls=$bindir/d88ls
for exe in "$gen" "$d88cut" "$d88ls" /usr/bin/time; do
  [[ -x $exe ]] || { echo "$0: $exe is not an executable" >&2; exit 2; }
done

rss_goal_kib=$((64 * 1024))
ratio_goal=20
floor_s=0.05
repeat_under_s=2
vlimit_kib=153600

shapes=(chain0 stride16 count65535 twins64k random zerocount disks64 json1024 sane sane64)
vlimit_shapes=(chain0 count65535)

work=$(mktemp -d "${TMPDIR:-/tmp}/bench-hostile.XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir "$work/images" "$work/scratch"

log() { echo "$*" >&2; }

# --- measuring ---------------------------------------------------------------

# Seconds the measuring itself takes (a subshell, time, timeout), taken off
# every run; set below from runs of `true`.
overhead=0

# run_once VLIMIT CMD...: runs CMD once in the scratch folder (emptied first),
# under `ulimit -v VLIMIT` unless VLIMIT is "-". Sets r_secs (wall time from
# just before to just after, less $overhead, at least 1 ms), r_rss (peak RSS
# in KiB, "?" when unknown) and r_status (the exit status, or "timeout").
run_once() {
  local vlimit=$1
  shift
  local timefile=$work/time.out
  rm -rf "$work/scratch" "$timefile"
  mkdir "$work/scratch"
  local t0 t1 status=0
  t0=$EPOCHREALTIME
  (
    cd "$work/scratch"
    [[ $vlimit == - ]] || ulimit -v "$vlimit"
    # timeout inside time: time waits for it, and so sees the program's peak RSS.
    exec /usr/bin/time -f '%e %M' -o "$timefile" timeout -k 10 "$timeout_s" "$@"
  ) >/dev/null 2>&1 || status=$?
  t1=$EPOCHREALTIME
  r_secs=$(awk -v a="$t0" -v b="$t1" -v o="$overhead" \
    'BEGIN { t = b - a - o; printf "%.3f", (t > 0.001 ? t : 0.001) }')
  # time writes "Command exited with non-zero status N" before its own line.
  r_rss=$(tail -n 1 "$timefile" 2>/dev/null | awk 'NF == 2 { print $2 }')
  [[ -n $r_rss ]] || r_rss="?"
  if [[ $status -eq 124 ]] ||
     { [[ $status -eq 137 ]] && awk -v s="$r_secs" -v l="$timeout_s" 'BEGIN { exit !(s >= l) }'; }; then
    r_status=timeout
  else
    r_status=$status
  fi
}

# measure BEST_OF CMD...: runs CMD once, and BEST_OF - 1 more times when the
# first run finished in under $repeat_under_s seconds. Sets m_secs (the best
# time), m_rss (the highest peak RSS) and m_status (the first run's status).
measure() {
  local best_of=$1
  shift
  run_once - "$@"
  m_secs=$r_secs m_rss=$r_rss m_status=$r_status
  if [[ $m_status != timeout ]] &&
     awk -v s="$m_secs" -v l="$repeat_under_s" 'BEGIN { exit !(s < l) }'; then
    local i
    for ((i = 1; i < best_of; i++)); do
      run_once - "$@"
      m_secs=$(awk -v a="$m_secs" -v b="$r_secs" 'BEGIN { print (b < a ? b : a) }')
      if [[ $r_rss != "?" && ( $m_rss == "?" || $r_rss -gt $m_rss ) ]]; then m_rss=$r_rss; fi
    done
  fi
}

# --- formatting --------------------------------------------------------------

human_size() {
  awk -v b="$1" 'BEGIN {
    if (b >= 1048576) printf "%.1f MiB", b / 1048576
    else if (b >= 1024) printf "%.1f KiB", b / 1024
    else printf "%d B", b }'
}

mib_of() {
  if [[ $1 == "?" ]]; then echo "?"; else awk -v k="$1" 'BEGIN { printf "%.1f", k / 1024 }'; fi
}

# The time a program may take on a file sha256sum reads in $1 seconds.
time_limit() {
  awk -v s="$1" -v r="$ratio_goal" -v f="$floor_s" 'BEGIN { l = s * r; printf "%.3f", (l > f ? l : f) }'
}

ratio_of() {  # SECS SHA_SECS
  awk -v t="$1" -v s="$2" -v r="$ratio_goal" -v f="$floor_s" 'BEGIN {
    if (s * r < f) print (t <= f ? "n/a, under 50 ms" : "n/a, over 50 ms")
    else printf "%.1fx", t / s }'
}

verdict() {  # SECS RSS_KIB STATUS SHA_SECS
  local secs=$1 rss=$2 status=$3 sha=$4
  local fails=()
  if [[ $status == timeout ]]; then
    fails+=("timeout")
  else
    [[ $status -lt 128 ]] || fails+=("signal $((status - 128))")
    awk -v t="$secs" -v l="$(time_limit "$sha")" 'BEGIN { exit !(t > l) }' && fails+=("time")
  fi
  if [[ $rss == "?" ]]; then
    fails+=("RSS unknown")
  elif [[ $rss -gt $rss_goal_kib ]]; then
    fails+=("RSS")
  fi
  if [[ ${#fails[@]} -eq 0 ]]; then
    echo PASS
  else
    local IFS=,
    echo "FAIL (${fails[*]})" | sed 's/,/, /g'
  fi
}

secs_cell() {  # SECS STATUS
  if [[ $2 == timeout ]]; then echo "> $timeout_s"; else awk -v s="$1" 'BEGIN { printf "%.3f", s }'; fi
}

# --- the run -----------------------------------------------------------------

log "making the images in $work/images"
"$gen" "$work/images" "$mib" >&2

measure 5 true
overhead=$m_secs
log "measuring overhead: $overhead s"

table=$work/table.md
{
  echo "Peak RSS goal: <= 64 MiB. Time goal: <= max(${ratio_goal} x sha256sum, ${floor_s} s)."
  echo "Timeout per run: ${timeout_s} s. Runs under ${repeat_under_s} s: best time and highest RSS of 3."
  echo "Seconds are wall time less the measuring's own cost (${overhead} s, timed on \`true\`)."
  echo
  echo "| shape | file size | program | seconds | peak RSS (MiB) | vs sha256sum | exit status | result |"
  echo "|---|---|---|---:|---:|---|---|---|"
} > "$table"

declare -A plain_status  # "shape program" -> status without the memory limit

programs=("d88cut" "d88ls" "d88ls --json IMAGE 0")
command_for() {  # PROGRAM IMAGE: the words of the command, one per line
  case $1 in
    "d88cut") printf '%s\n' "$d88cut" "$2" ;;
    "d88ls") printf '%s\n' "$d88ls" "$2" ;;
    "d88ls --json IMAGE 0") printf '%s\n' "$d88ls" --json "$2" 0 ;;
  esac
}

for shape in "${shapes[@]}"; do
  image=$work/images/$shape.d88
  size=$(human_size "$(stat -c %s "$image")")

  measure 3 sha256sum "$image"
  sha=$m_secs
  log "$shape: sha256sum ${m_secs} s"
  echo "| $shape | $size | sha256sum | $(secs_cell "$m_secs" "$m_status") | $(mib_of "$m_rss") | 1x | $m_status | reference |" >> "$table"

  for program in "${programs[@]}"; do
    mapfile -t cmd < <(command_for "$program" "$image")
    measure 3 "${cmd[@]}"
    plain_status["$shape $program"]=$m_status
    log "$shape: $program ${m_secs} s, $(mib_of "$m_rss") MiB, status $m_status"
    echo "| $shape | $size | $program | $(secs_cell "$m_secs" "$m_status") | $(mib_of "$m_rss") |" \
         "$(ratio_of "$m_secs" "$sha") | $m_status | $(verdict "$m_secs" "$m_rss" "$m_status" "$sha") |" >> "$table"
  done
done

{
  echo
  echo "Under \`ulimit -v $vlimit_kib\` (150 MB of address space), once each. PASS: the same exit status as without the limit, and no timeout."
  echo
  echo "| shape | program | seconds | exit status | without the limit | result |"
  echo "|---|---|---:|---|---|---|"
} >> "$table"

for shape in "${vlimit_shapes[@]}"; do
  image=$work/images/$shape.d88
  for program in "${programs[@]}"; do
    mapfile -t cmd < <(command_for "$program" "$image")
    run_once "$vlimit_kib" "${cmd[@]}"
    plain=${plain_status["$shape $program"]}
    if [[ $r_status != timeout && $r_status == "$plain" ]]; then result=PASS; else result=FAIL; fi
    log "$shape: $program under ulimit -v: ${r_secs} s, status $r_status"
    echo "| $shape | $program | $(secs_cell "$r_secs" "$r_status") | $r_status | $plain | $result |" >> "$table"
  done
done

cat "$table"
if [[ -n $outfile ]]; then
  cp "$table" "$outfile"
  log "written to $outfile"
fi
