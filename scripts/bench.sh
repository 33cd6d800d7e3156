#!/bin/bash
# Builds Kelvora and prints the figures of its benchmarks, each run under Wine
# in a session of its own. Name benchmarks to run only those, e.g.
#   bash scripts/bench.sh lookup_benchmark json_lookup_benchmark
# The answer service's benchmark (wrk, a 100,000-question bank) is
# service/bench.sh.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${KELVORA_BUILD_DIR:-$root/build}"
session="$build/bench-session"

all=(shell_startup_benchmark http_fetch_benchmark json_lookup_benchmark lookup_benchmark webview_benchmark engine_benchmark)
selected=("$@")
[ ${#selected[@]} -gt 0 ] || selected=("${all[@]}")

bash "$root/scripts/install-deps.sh"
cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" -DKELVORA_BUILD_TESTS=ON >/dev/null
cmake --build "$build" -j"$(nproc)" --target Kelvora acp_check "${selected[@]}" >/dev/null

export KELVORA_EXE="$build/app/Kelvora.exe"
export KELVORA_ENGINE="$build/engine/node.dll"
export KELVORA_BUILD_DIR="$build"
trap 'bash "$root/tests/wine-session.sh" stop "$session" >/dev/null' EXIT
bash "$root/tests/wine-session.sh" start "$session" "$build/tests/acp_check.exe" >/dev/null
for name in "${selected[@]}"; do
    program="$(find "$build/tests" -name "$name.exe" | head -n1)"
    echo "== $name"
    bash "$root/tests/wine-run.sh" "$session" "$program"
done
