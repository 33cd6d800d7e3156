#!/bin/bash
# Starts kelvora-service with the sample bank on a free loopback port, runs the
# Wine test program given against it, and stops the service.
#   service-e2e.sh SESSION_DIR TEST_PROGRAM.exe
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
root="$(cd "$here/../.." && pwd)"
session="$1"
program="$2"
build="${KELVORA_SERVICE_BUILD_DIR:?}"
work="$(mktemp -d)"

cmake -S "$root/service" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j"$(nproc)" --target kelvora-service >/dev/null
"$build/kelvora-service" import --db "$work/bank.db" "$root/service/data/sample-bank.csv" >/dev/null

port="$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')"
"$build/kelvora-service" serve --listen "127.0.0.1:$port" --db "$work/bank.db" >"$work/service.log" 2>&1 &
service_pid=$!
trap 'kill "$service_pid" 2>/dev/null; wait "$service_pid" 2>/dev/null; rm -rf "$work"' EXIT
for _ in $(seq 100); do
    curl -fs "http://127.0.0.1:$port/healthz" >/dev/null 2>&1 && break
    sleep 0.1
done

KELVORA_SERVICE_URL="http://127.0.0.1:$port" bash "$root/tests/wine-run.sh" "$session" "$program"
