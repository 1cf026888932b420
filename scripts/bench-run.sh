#!/usr/bin/env bash
# Measures the bounds that hold per run, not per input: many inputs read at
# once from pipes, and track tables whose entries share one track. For each
# shape it gives the wall time and peak resident memory (/usr/bin/time -f
# '%e %M', best time and highest memory of 3 runs) of the new programs and,
# when OLDBINDIR is given, of older ones on the same inputs, beside
# sha256sum of the same bytes, and the size of what the program wrote.
#
# Usage: scripts/bench-run.sh BINDIR [OLDBINDIR] [OUTFILE]
#
#   BINDIR     holds d88cut, d88ls, d88cmp and make_hostile_images (the
#              release preset builds them: build-release/bin)
#   OLDBINDIR  holds the d88cut, d88ls and d88cmp to compare with
#   OUTFILE    the Markdown table is also written there
#
# The shapes (made in a temporary folder under $TMPDIR, removed on exit):
#   16 spares  d88cut IMAGE with 16 spares on pipes, each a sound 2HD disk
#              whose tracks stand 250 MiB into the stream (so a reader that
#              wants them holds 250 MiB of it); the pipes are fed by cat and
#              head from files and /dev/zero
#   2 pipes    d88cmp A B, both such pipes
#   shared64k  d88ls --fingerprint of shared64k.d88 (164 entries at one track
#              of 256 records of 65,535 bytes; 16.8 MB)
#   shared256  d88ls --svg and d88ls --json IMAGE 0 of shared256.d88 (164
#              entries at one track of 256 empty records; 4,784 bytes)
#   shared256x64  d88cmp and d88cmp --json of two files of 64 such disks,
#              the second with every record marked bad
#
# The writers, in a second table beside cp of their input (best of 3):
#   d88merge   of two files of 64 sample disks (82 MB each), the second with
#              one sector of its last disk marked bad, against cp of one
#   d88make    of the sample disk's raw image (1.2 MB) with d88raw's map,
#              against cp of the raw image; /bin/true shows what starting a
#              process takes
#
# Run it under `nice -n 10` on a busy machine, so that the reference and the
# programs are measured alike:
#
#   cmake --preset release && cmake --build --preset release -j2
#   nice -n 10 scripts/bench-run.sh build-release/bin OLD/bin bench/results/run-bounds.md
set -euo pipefail
export LC_ALL=C

[[ $# -ge 1 ]] || { echo "Usage: $0 BINDIR [OLDBINDIR] [OUTFILE]" >&2; exit 2; }
new=$(cd "$1" && pwd)
old=""
[[ $# -ge 2 && -n $2 ]] && old=$(cd "$2" && pwd)
outfile=${3:-}
# The table is written after the script moves into its scratch folder.
[[ -z $outfile || $outfile == /* ]] || outfile=$PWD/$outfile
for tool in d88cut d88ls d88cmp d88raw d88make d88merge make_hostile_images make_sample_image; do
  [[ -x $new/$tool ]] || { echo "$0: $new/$tool not found" >&2; exit 2; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$new/make_hostile_images" "$work" 1 >/dev/null
cd "$work"

# A sound disk whose tracks stand PAD bytes further in: its header with the
# size field and every track entry moved on, and the rest as it is.
pad=$((250 * 1024 * 1024))
python3 - "$pad" <<'PY'
import struct, sys
pad = int(sys.argv[1])
data = open("sane.d88", "rb").read()
head = bytearray(data[:0x2B0])
size, = struct.unpack_from("<I", head, 0x1C)
struct.pack_into("<I", head, 0x1C, size + pad)
for t in range(164):
    entry, = struct.unpack_from("<I", head, 0x20 + 4 * t)
    if entry:
        struct.pack_into("<I", head, 0x20 + 4 * t, entry + pad)
open("padded.head", "wb").write(head)
open("padded.rest", "wb").write(data[0x2B0:])
# 64 disks, each of 164 entries sharing one track of 256 empty records.
# The second file marks every record bad (status 0xB0), so that every
# sector differs.
one = open("shared256.d88", "rb").read()
open("shared256x64.d88", "wb").write(one * 64)
marked = bytearray(one)
table, = struct.unpack_from("<I", marked, 0x20)
for r in range(256):
    marked[table + 16 * r + 8] = 0xB0
open("shared256x64b.d88", "wb").write(bytes(marked) * 64)
PY

# feed FIFO: fills the pipe FIFO with the padded disk, in the background.
feed() {
  (exec >"$1"; cat padded.head; head -c "$pad" /dev/zero; cat padded.rest) 2>/dev/null &
}

# faster A B: true when A seconds is less than B seconds.
faster() { awk -v a="$1" -v b="$2" 'BEGIN { exit !(a < b) }'; }

# measure LABEL CMD...: best time and highest memory of 3 runs, and the bytes
# written to standard output; pipes fifo/p0..p15 are made afresh each run.
rows=()
measure() {
  local label=$1; shift
  local best="" peak=0 bytes=0
  for _ in 1 2 3; do
    rm -rf fifo && mkdir fifo && for k in $(seq 0 15); do mkfifo "fifo/p$k"; done
    if [[ $label == *pipe* || $label == *spare* ]]; then
      for k in $(seq 0 15); do feed "fifo/p$k"; done
    fi
    rm -rf out && mkdir out
    /usr/bin/time -o time.txt -f '%e %M' "$@" >out.txt 2>err.txt || true
    local stats
    stats=$(tail -1 time.txt)
    # A feeder still waiting for its pipe to be opened gets a reader that
    # goes at once, and ends on the broken pipe.
    for k in $(seq 0 15); do (exec 3<>"fifo/p$k") 2>/dev/null || true; done
    wait 2>/dev/null || true
    local t=${stats% *} m=${stats#* }
    if [[ -z $best ]] || faster "$t" "$best"; then best=$t; fi
    if (( m > peak )); then peak=$m; fi
    bytes=$(stat -c %s out.txt)
  done
  echo "$best $peak $bytes"
}

sha() {  # best of 3 sha256sum over the files
  local best=""
  for _ in 1 2 3; do
    local t
    /usr/bin/time -o time.txt -f '%e' sha256sum "$@" >/dev/null
    t=$(tail -1 time.txt)
    if [[ -z $best ]] || faster "$t" "$best"; then best=$t; fi
  done
  echo "$best"
}

spares=()
for k in $(seq 0 15); do spares+=(--spare "fifo/p$k"); done
# Each run: what the table calls it | the command, in the scratch folder |
# the files sha256sum reads for reference (none for pipes).
runs=(
  "d88cut with 16 spares on pipes|d88cut -o out ${spares[*]} sane.d88|"
  "d88cmp of 2 pipes|d88cmp fifo/p0 fifo/p1|"
  "d88ls --fingerprint shared64k.d88|d88ls --fingerprint shared64k.d88|shared64k.d88"
  "d88ls --svg shared256.d88|d88ls --svg shared256.d88|shared256.d88"
  "d88ls --json shared256.d88 0|d88ls --json shared256.d88 0|shared256.d88"
  "d88cmp shared256x64.d88 shared256x64b.d88|d88cmp shared256x64.d88 shared256x64b.d88|shared256x64.d88 shared256x64b.d88"
  "d88cmp --json shared256x64.d88 shared256x64b.d88|d88cmp --json shared256x64.d88 shared256x64b.d88|shared256x64.d88 shared256x64b.d88"
)

table="| Run | sha256sum | Now: s, peak KiB, output bytes | Before: s, peak KiB, output bytes |
|---|---|---|---|"
for run in "${runs[@]}"; do
  IFS='|' read -r label command files <<<"$run"
  read -r -a cmd <<<"$command"
  ref="-"
  [[ -z $files ]] || ref="$(sha $files) s"
  read -r t m b <<<"$(measure "$label" "$new/${cmd[0]}" "${cmd[@]:1}")"
  now="$t s, $m KiB, $b B"
  before="-"
  if [[ -n $old ]]; then
    read -r t m b <<<"$(measure "$label" "$old/${cmd[0]}" "${cmd[@]:1}")"
    before="$t s, $m KiB, $b B"
  fi
  table+=$'\n'"| \`$label\` | $ref | $now | $before |"
done
echo "$table"
[[ -z $outfile ]] || { mkdir -p "$(dirname "$outfile")"; echo "$table" >"$outfile"; }

# The writers beside cp: best wall time and peak memory of 3 runs.
"$new/make_sample_image" sample.d88
python3 - <<'PY'
import struct
one = open("sample.d88", "rb").read()
open("dumps-a.d88", "wb").write(one * 64)
# The last disk of the second file: track 100, record 4 marked with a data CRC error.
marked = bytearray(one)
entry, = struct.unpack_from("<I", marked, 0x20 + 4 * 100)
marked[entry + 3 * (16 + 1024) + 8] = 0xB0
open("dumps-b.d88", "wb").write(one * 63 + bytes(marked))
PY
"$new/d88raw" --map sample.map.json sample.d88 sample.hdm >/dev/null
best_of_3() {  # CMD...: "seconds peak-KiB", best wall time (to 0.1 ms) and highest memory of 3 runs
  local best="" peak=0
  for _ in 1 2 3; do
    rm -f out.d88
    local began ended t m
    began=$(date +%s%N)
    /usr/bin/time -o time.txt -f '%M' "$@" >/dev/null 2>&1 || true
    ended=$(date +%s%N)
    t=$(awk -v ns=$((ended - began)) 'BEGIN { printf "%.4f", ns / 1e9 }')
    m=$(tail -1 time.txt)
    if [[ -z $best ]] || faster "$t" "$best"; then best=$t; fi
    if (( m > peak )); then peak=$m; fi
  done
  echo "$best $peak"
}
writers="| Run | cp of its input: s | /bin/true: s | Now: s, peak KiB |
|---|---|---|---|"
read -r start _ <<<"$(best_of_3 /bin/true)"
read -r cpm _ <<<"$(best_of_3 cp dumps-a.d88 out.d88)"
read -r t m <<<"$(best_of_3 "$new/d88merge" -o out.d88 dumps-a.d88 dumps-b.d88)"
writers+=$'\n'"| \`d88merge -o out.d88 dumps-a.d88 dumps-b.d88\` (2 x 64 disks, 82 MB each) | $cpm | $start | $t s, $m KiB |"
read -r cpr _ <<<"$(best_of_3 cp sample.hdm out.d88)"
read -r t m <<<"$(best_of_3 "$new/d88make" --geometry 77x2x8x1024 --map sample.map.json sample.hdm out.d88)"
writers+=$'\n'"| \`d88make --geometry 77x2x8x1024 --map sample.map.json sample.hdm out.d88\` (1.2 MB) | $cpr | $start | $t s, $m KiB |"
echo
echo "$writers"
[[ -z $outfile ]] || { echo; echo "$writers"; } >>"$outfile"
