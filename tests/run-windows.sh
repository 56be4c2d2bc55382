#!/usr/bin/env bash
# Cross-builds fernwick.exe and the unit tests with mingw-w64, runs the unit
# tests under Wine, then drives fernwick.exe through Wine with the native
# end-to-end tests.
#   tests/run-windows.sh [NATIVE_BUILD_DIR [WINDOWS_BUILD_DIR]]
# The native build dir must already hold tests/fernwick_e2e_tests.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
native=$(realpath "${1:-$root/build}")
win=$(realpath -m "${2:-$root/build-win}")

cmake -S "$root" -B "$win" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw-w64-x86_64.cmake"
cmake --build "$win" -j"$(nproc)"
ctest --test-dir "$win" --output-on-failure

FERNWICK_EXE="$win/fernwick.exe" \
FERNWICK_RUNNER="$root/cmake/wine-run.sh $win/wineprefix" \
  "$native/tests/fernwick_e2e_tests"
