#!/usr/bin/env bash
# Builds d88cut and runs it on IMAGE (or, with none given, on a sample image
# made by the project's image builder), in a fresh output folder.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
(cd "$root" && cmake --preset default >/dev/null &&
  cmake --build --preset default -j "$(nproc 2>/dev/null || echo 2)" >/dev/null)

out=$(mktemp -d "$PWD/d88cut-output.XXXXXX")
if [ $# -ge 1 ]; then
  image=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
else
  image=$out/sample.d88
  "$root/build/bin/make_sample_image" "$image"
  echo "No image named: cutting a sample image made by the image builder."
fi
echo "Output folder: $out"
status=0
(cd "$out" && "$root/build/bin/d88cut" "$image") || status=$?
ls -l "$out"
echo "d88cut exit status: $status"
exit "$status"
