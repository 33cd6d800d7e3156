#!/bin/bash
# Builds Kelvora and runs every test. Installs what is missing first.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${KELVORA_BUILD_DIR:-$root/build}"

bash "$root/scripts/install-deps.sh"

cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" -DKELVORA_BUILD_TESTS=ON >/dev/null
cmake --build "$build" -j"$(nproc)"

# The Windows programs, under Wine (the summary of this run is printed last).
ctest --test-dir "$build" --output-on-failure --timeout 900
