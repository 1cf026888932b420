#!/usr/bin/env bash
# Cross-builds the Windows executables with MinGW-w64 (build-windows/) and
# runs every test under Wine; then cuts one image with the Linux d88cut
# (build-cut/) and the Windows one and checks that the twenty files are byte
# for byte the same and that the Windows progress lines end with CR LF.
# Needs g++-mingw-w64-x86-64 and wine64 (Debian packages).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
jobs=$(nproc 2>/dev/null || echo 2)
wine=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver64
export WINEDEBUG=-all
# A Wine prefix of this project's own, apart from the user's, unless one is
# named.
export WINEPREFIX="${WINEPREFIX:-$root/build-windows/wine-prefix}"
mkdir -p "$(dirname "$WINEPREFIX")"

# Wine's server and its background services start with the first program
# that runs, inherit that program's output, and go away when the last program
# ends. The build lists each test program's tests as soon as it is linked, and
# CTest runs two at once, both capturing output: a program could then wait on
# an output pipe the services hold, or meet a server that is shutting down
# and fail. So: make the prefix, then keep one server up for the whole run
# and start the services with no pipe to hold.
"$wine" wineboot --init </dev/null >/dev/null 2>&1 || true
timeout 60 "$wineserver" -w || true
started_server=0
if "$wineserver" -p </dev/null >/dev/null 2>&1; then
  started_server=1
fi
"$wine" wineboot </dev/null >/dev/null 2>&1 || true
work=$(mktemp -d)
cleanup() {
  rm -rf "$work"
  if [ "$started_server" = 1 ]; then "$wineserver" -k || true; fi
}
trap cleanup EXIT

cmake --preset windows
cmake --build --preset windows -j "$jobs"
ctest --preset windows -j "$jobs" --output-on-failure

# The Linux d88cut to compare with comes from the cut preset's own folder
# (build-cut/), so that a build/ of the user's is never reconfigured.
cmake --preset cut >/dev/null
cmake --build --preset cut -j "$jobs"
mkdir "$work/linux" "$work/windows"
build-cut/bin/make_sample_image "$work/sample.d88"
(cd "$work/linux" && "$root/build-cut/bin/d88cut" ../sample.d88 >../linux.out)
(cd "$work/windows" && "$wine" "$root/build-windows/bin/d88cut.exe" ../sample.d88 >../windows.out)
for f in "$work"/linux/*; do
  cmp "$f" "$work/windows/$(basename "$f")"
done
[ "$(ls "$work/linux" | wc -l)" -eq 20 ] && [ "$(ls "$work/windows" | wc -l)" -eq 20 ]
cmp <(sed 's/$/\r/' "$work/linux.out") "$work/windows.out"
echo "Windows d88cut: the same twenty files as on Linux; progress lines end with CR LF."
