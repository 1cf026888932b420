#!/usr/bin/env bash
# Builds d88cut (and the sample image maker) only, with no tests and no
# GoogleTest, and runs it on IMAGE (or, with none given, on a sample image
# whose sectors say what they are) in a fresh output folder
# d88cut-output.XXXXXX made in the current directory.
#
# Usage: scripts/cut.sh [IMAGE]
#
# IMAGE is taken as typed: a relative path is relative to the folder the
# script was run from, and - is standard input. When the cut writes nothing,
# the output folder is removed again; otherwise the last line printed names
# it. The exit status is d88cut's.
set -euo pipefail
here=$PWD
root=$(cd "$(dirname "$0")/.." && pwd)

if [ $# -gt 1 ]; then
  echo "Usage: $0 [IMAGE]" >&2
  exit 2
fi
# Made absolute now, before anything changes folder: d88cut runs inside the
# output folder.
image=
if [ $# -eq 1 ]; then
  case $1 in
    - | /*) image=$1 ;;
    *) image=$here/$1 ;;
  esac
fi

(cd "$root" && cmake --preset cut &&
  cmake --build --preset cut -j "$(nproc 2>/dev/null || echo 2)")

out=$(mktemp -d "$here/d88cut-output.XXXXXX")
sample=
if [ -z "$image" ]; then
  sample=sample.d88
  image=$out/$sample
  "$root/build-cut/bin/make_sample_image" "$image"
  echo "No image named: cutting a sample image whose sectors say what they are."
fi
status=0
(cd "$out" && "$root/build-cut/bin/d88cut" "$image") || status=$?
echo "d88cut exit status: $status"

# Whatever is in the folder besides the sample image is what the cut wrote.
shopt -s nullglob dotglob
written=0
for f in "$out"/*; do
  [ -n "$sample" ] && [ "$f" = "$out/$sample" ] || written=$((written + 1))
done
if [ "$written" -eq 0 ]; then
  rm -rf "$out"
  echo "Nothing was written; the output folder is removed."
else
  ls -l "$out"
  echo "Output folder: $out"
fi
exit "$status"
