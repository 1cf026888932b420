#!/usr/bin/env bash
# The two speed figures of d88dir and d88get:
#   1. d88dir over 300 images against plain d88ls over the same images, each
#      run once per image (goal: at most 1.5 times d88ls);
#   2. d88get --all of a full 1.2 MB FAT12 disk against cp of the image
#      (goal: at most 2 times cp), each run 20 times in a row.
# Each figure is the best wall time of 5 rounds, in milliseconds, measured
# with date +%s%N around the loop (process start included, as a user meets it).
#
# Usage: scripts/bench-files.sh BINDIR [SAMPLESDIR] [OUTFILE]
#
#   BINDIR      holds d88dir, d88get and d88ls (build-release/bin)
#   SAMPLESDIR  real images with a file system (the FreeDOS(98), FM Towns and
#               Hu-BASIC samples), taken in turn with the generated full disk
#               to make the 300; without it all 300 are the full disk
#   OUTFILE     the Markdown table is also written there
#
# The full disk is made by bench/files/make_fat_disk.py: 77 x 2 x 8 x 1,024
# bytes, a BPB, two FATs, and 24 files that take every cluster. The 300
# images are hard links to the few distinct files, so the page cache holds
# them all for both programs alike.
set -euo pipefail
export LC_ALL=C

[[ $# -ge 1 ]] || { echo "Usage: $0 BINDIR [SAMPLESDIR] [OUTFILE]" >&2; exit 2; }
bin=$(cd "$1" && pwd)
samples=${2:-}
outfile=${3:-}
[[ -z $outfile || $outfile == /* ]] || outfile=$PWD/$outfile
[[ -z $samples ]] || samples=$(cd "$samples" && pwd)
root=$(cd "$(dirname "$0")/.." && pwd)
for tool in d88dir d88get d88ls; do
  [[ -x $bin/$tool ]] || { echo "$0: $bin/$tool not found" >&2; exit 2; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
python3 "$root/bench/files/make_fat_disk.py" full.d88
sources=(full.d88)
if [[ -n $samples ]]; then
  for s in quubee_freedos98_boot.d88 towns_FPUTEST.d77 towns_TsugaruUtil.d77 d88dmp_HuBASIC_Format_2D.d88; do
    [[ -f $samples/$s ]] && sources+=("$samples/$s")
  done
fi
mkdir images
for ((i = 0; i < 300; i++)); do
  ln "${sources[$((i % ${#sources[@]}))]}" "images/$(printf 'i%03d' "$i").d88" 2>/dev/null ||
    cp "${sources[$((i % ${#sources[@]}))]}" "images/$(printf 'i%03d' "$i").d88"
done

now() { date +%s%N; }
# best MS CMD...: the best of 5 rounds of CMD, in milliseconds.
best() {
  local b="" t0 t1 ms
  for round in 1 2 3 4 5; do
    t0=$(now)
    "$@" >/dev/null 2>&1 || true
    t1=$(now)
    ms=$(( (t1 - t0) / 1000000 ))
    if [[ -z $b || $ms -lt $b ]]; then b=$ms; fi
  done
  echo "$b"
}
each_ls() { for f in images/*.d88; do "$bin/d88ls" "$f"; done; }
each_dir() { for f in images/*.d88; do "$bin/d88dir" "$f"; done; }
get20() { for ((k = 0; k < 20; k++)); do "$bin/d88get" --all -o out full.d88; done; }
cp20() { for ((k = 0; k < 20; k++)); do cp full.d88 copy.d88; done; }

ls_ms=$(best each_ls)
dir_ms=$(best each_dir)
cp_ms=$(best cp20)
get_ms=$(best get20)
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", (b > 0 ? a / b : 0) }'; }
table="| Figure | reference | ms | d88dir / d88get | ms | ratio | goal |
|---|---|---|---|---|---|---|
| 300 images (${#sources[@]} distinct) | \`d88ls IMAGE\` each | $ls_ms | \`d88dir IMAGE\` each | $dir_ms | $(ratio "$dir_ms" "$ls_ms") | at most 1.5 |
| full 1.2 MB FAT12 disk, 20 times | \`cp\` | $cp_ms | \`d88get --all -o out\` | $get_ms | $(ratio "$get_ms" "$cp_ms") | at most 2 |"
echo "$table"
[[ -z $outfile ]] || echo "$table" >"$outfile"
