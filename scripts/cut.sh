#!/usr/bin/env bash
# Builds d88cut (and the sample image maker) only, with no tests and no
# GoogleTest, and runs it on IMAGE (or, with none given, on a sample image
# whose sectors say what they are), in a fresh output folder.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
(cd "$root" && cmake --preset cut &&
  cmake --build --preset cut -j "$(nproc 2>/dev/null || echo 2)")

out=$(mktemp -d "$PWD/d88cut-output.XXXXXX")
if [ $# -ge 1 ]; then
  image=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
else
  image=$out/sample.d88
  "$root/build-cut/bin/make_sample_image" "$image"
  echo "No image named: cutting a sample image whose sectors say what they are."
fi
echo "Output folder: $out"
status=0
(cd "$out" && "$root/build-cut/bin/d88cut" "$image") || status=$?
ls -l "$out"
echo "d88cut exit status: $status"
exit "$status"
