#!/usr/bin/env bash
# Measures the content fingerprint and the comparison on two 64-disk files
# (64 formatted 2HD disks of 1.2 MiB each, ~82 MB; the second differs from
# the first in one byte of one sector), side by side with sha256sum over the
# same bytes, and holds them against their goals:
#   - d88ls --fingerprint A   at most 1.0 x sha256sum A
#   - d88cmp A B              at most 2 x sha256sum A B
# Plain d88ls A is shown beside them: it reads only the headers.
#
# Usage: scripts/bench-dumps.sh [--gen PATH] BINDIR [OUTFILE]
#
#   BINDIR      holds d88ls and d88cmp, and make_dump_pair unless --gen names
#               it (built by the release preset: build-release/bin)
#   OUTFILE     where the Markdown table goes (default bench/results/dumps.md)
#
# Every command runs 3 times under `/usr/bin/time -f '%e %M'`; the table shows
# the best wall time (taken from the shell's clock, in ms, less the cost of
# the measuring itself, timed on `true`) and the highest peak RSS. The files
# are made in a temporary folder under $TMPDIR, removed on exit, and read
# once before the runs so that all of them read from the page cache. Run it
# under nice on a shared machine, so that the reference and the programs are
# measured alike:
#
#   cmake --preset release && cmake --build --preset release -j2 --target d88ls d88cmp make_dump_pair
#   nice -n 10 scripts/bench-dumps.sh build-release/bin
set -euo pipefail
export LC_ALL=C  # a '.' in $EPOCHREALTIME and in awk's numbers

root=$(cd "$(dirname "$0")/.." && pwd)
usage() {
  echo "Usage: $0 [--gen PATH] BINDIR [OUTFILE]" >&2
  exit 2
}

gen=""
while [[ $# -gt 0 ]]; do
  case $1 in
    --gen) [[ $# -ge 2 ]] || usage; gen=$2; shift 2 ;;
    -h|--help) usage ;;
    --) shift; break ;;
    -*) usage ;;
    *) break ;;
  esac
done
[[ $# -ge 1 && $# -le 2 ]] || usage
bindir=$(cd "$1" && pwd)
outfile=${2:-$root/bench/results/dumps.md}
[[ -n $gen ]] || gen=$bindir/make_dump_pair
d88ls=$bindir/d88ls
d88cmp=$bindir/d88cmp
for exe in "$gen" "$d88ls" "$d88cmp" /usr/bin/time; do
  [[ -x $exe ]] || { echo "$0: $exe is not an executable" >&2; exit 2; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/bench-dumps.XXXXXX")
trap 'rm -rf "$work"' EXIT
log() { echo "$*" >&2; }

log "making the files in $work"
"$gen" "$work"
a=$work/a.d88
b=$work/b.d88
cat "$a" "$b" >/dev/null

overhead=0
# measure CMD...: 3 runs; sets m_secs (best wall time less $overhead), m_rss
# (highest peak RSS in KiB) and m_status (the last run's exit status).
measure() {
  local i t0 t1 secs rss status
  m_secs="" m_rss=0 m_status=0
  for i in 1 2 3; do
    status=0
    t0=$EPOCHREALTIME
    /usr/bin/time -f '%e %M' -o "$work/time.out" "$@" >/dev/null 2>"$work/err.out" || status=$?
    t1=$EPOCHREALTIME
    secs=$(awk -v a="$t0" -v b="$t1" -v o="$overhead" \
      'BEGIN { t = b - a - o; printf "%.4f", (t > 0.0001 ? t : 0.0001) }')
    rss=$(tail -n 1 "$work/time.out" | awk 'NF == 2 { print $2 }')
    if [[ -z $m_secs ]] || awk -v s="$secs" -v m="$m_secs" 'BEGIN { exit !(s < m) }'; then
      m_secs=$secs
    fi
    [[ -n $rss && $rss -gt $m_rss ]] && m_rss=$rss
    m_status=$status
  done
}

measure true
overhead=$m_secs
log "measuring overhead: $overhead s"

measure sha256sum "$a"; sha_a=$m_secs; sha_a_rss=$m_rss
measure sha256sum "$a" "$b"; sha_ab=$m_secs; sha_ab_rss=$m_rss
measure "$d88ls" "$a"; ls_plain=$m_secs; ls_plain_rss=$m_rss; ls_plain_status=$m_status
measure "$d88ls" --fingerprint "$a"; ls_fp=$m_secs; ls_fp_rss=$m_rss; ls_fp_status=$m_status
measure "$d88cmp" "$a" "$b"; cmp_ab=$m_secs; cmp_ab_rss=$m_rss; cmp_ab_status=$m_status

ms() { awk -v s="$1" 'BEGIN { printf "%.1f", s * 1000 }'; }
mib() { awk -v k="$1" 'BEGIN { printf "%.1f", k / 1024 }'; }
ratio() { awk -v t="$1" -v r="$2" 'BEGIN { printf "%.2fx", t / r }'; }
verdict() {  # SECS REFERENCE GOAL
  awk -v t="$1" -v r="$2" -v g="$3" 'BEGIN { print (t <= r * g ? "PASS" : "FAIL") }'
}

size=$(stat -c %s "$a")
table=$work/table.md
{
  echo "Two files of 64 formatted 2HD disks (77 x 2 x 8 x 1,024 bytes), $size bytes each;"
  echo "B differs from A in one byte of one sector of disk 63. Best wall time of 3 runs, less"
  echo "the measuring's own cost (${overhead} s, timed on \`true\`); highest peak RSS of the 3."
  echo "Machine: $(nproc) cores, $(uname -sr); run under nice $(nice)."
  echo
  echo "| command | ms | peak RSS (MiB) | exit status | against | ratio | goal | result |"
  echo "|---|---:|---:|---|---|---:|---:|---|"
  echo "| \`sha256sum A\` | $(ms "$sha_a") | $(mib "$sha_a_rss") | 0 | | | | reference |"
  echo "| \`d88ls A\` | $(ms "$ls_plain") | $(mib "$ls_plain_rss") | $ls_plain_status | sha256sum A | $(ratio "$ls_plain" "$sha_a") | | shown |"
  echo "| \`d88ls --fingerprint A\` | $(ms "$ls_fp") | $(mib "$ls_fp_rss") | $ls_fp_status | sha256sum A | $(ratio "$ls_fp" "$sha_a") | 1.0x | $(verdict "$ls_fp" "$sha_a" 1.0) |"
  echo "| \`sha256sum A B\` | $(ms "$sha_ab") | $(mib "$sha_ab_rss") | 0 | | | | reference |"
  echo "| \`d88cmp A B\` | $(ms "$cmp_ab") | $(mib "$cmp_ab_rss") | $cmp_ab_status | sha256sum A B | $(ratio "$cmp_ab" "$sha_ab") | 2x | $(verdict "$cmp_ab" "$sha_ab" 2) |"
} >"$table"

cat "$table"
mkdir -p "$(dirname "$outfile")"
cp "$table" "$outfile"
log "written to $outfile"
