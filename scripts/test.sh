#!/usr/bin/env bash
# Builds everything with warnings as errors and runs every test. On a fresh
# Debian machine it first installs what the build needs (CMake, g++,
# GoogleTest, OpenSSL's libcrypto headers, groff for the manual pages) when
# run as root with apt-get; otherwise it stops and names what to install.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
jobs=$(nproc 2>/dev/null || echo 2)

need=()
command -v cmake >/dev/null || need+=(cmake)
command -v g++ >/dev/null || need+=(g++)
[ -f /usr/lib/x86_64-linux-gnu/cmake/GTest/GTestConfig.cmake ] ||
  [ -f /usr/lib/cmake/GTest/GTestConfig.cmake ] || need+=(libgtest-dev libgmock-dev)
[ -f /usr/include/openssl/evp.h ] || need+=(libssl-dev)
command -v groff >/dev/null || need+=(groff-base)
if [ ${#need[@]} -gt 0 ]; then
  if [ "$(id -u)" = 0 ] && command -v apt-get >/dev/null; then
    echo "installing: ${need[*]}"
    apt-get update
    DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${need[@]}"
  else
    echo "$0: missing: ${need[*]}" >&2
    echo "install them first, e.g.: sudo apt-get install ${need[*]}" >&2
    exit 1
  fi
fi

cmake --preset ci
cmake --build --preset ci -j "$jobs"
ctest --preset ci -j "$jobs"
