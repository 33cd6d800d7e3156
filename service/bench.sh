#!/bin/bash
# Load test of the answer endpoint with wrk against a generated bank of
# 100,000 questions. Prints requests per second and p50/p99 latency for exact
# wordings, typed variants (fuzzy match), unknown questions (a miss is
# recorded) and exact wordings on a new connection per request, as the tool sends them.
# Usage: service/bench.sh [seconds per run, default 10] [connections, default 16]
# With KELVORA_BENCH_BASELINE=/path/to/another/kelvora-service, that build is
# measured too, right after this one on the same bank, and the ratio printed.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
source "$here/bench-common.sh" "$@"
server=""
baseline="${KELVORA_BENCH_BASELINE:-}"
cleanup() {
    if [ -n "$server" ]; then kill "$server" 2>/dev/null || true; wait "$server" 2>/dev/null || true; fi
    rm -rf "$work"
}
trap cleanup EXIT

build_service_and_bank

rm -f "$work/bench.db"
start=$(date +%s.%N)
"$service" import --db "$work/bench.db" "$work/bank.csv" >/dev/null
end=$(date +%s.%N)
awk -v s="$start" -v e="$end" 'BEGIN { printf "import of 100,000 questions: %.1f s\n", e - s }'

run() {
    printf '%-34s' "$1"
    wrk -t2 -c"$connections" -d"${seconds}s" -s "$work/paths.lua" "http://127.0.0.1:$port" -- "$2" "${3:-}" | tail -1 |
        awk '{ printf "%8.0f req/s   p50 %6.2f ms   p99 %6.2f ms   (%d requests, %d errors)\n", $2, $3, $4, $1, $5 }' |
        tee -a "$work/figures.$4"
}

# Serves the bank with the given binary and runs the four loads against it.
bench() {
    local exe="$1" label="$2" extra=()
    # Builds with per-address rate limits get them lifted: every request here comes from one address.
    if "$exe" --help 2>&1 | grep -q -- --lookup-rate; then extra=(--lookup-rate 0 --report-rate 0); else extra=(--threads 64); fi
    "$exe" serve --listen "127.0.0.1:$port" --db "$work/bench.db" "${extra[@]}" &
    server=$!
    for _ in $(seq 100); do
        curl -fs "http://127.0.0.1:$port/healthz" >/dev/null 2>&1 && break
        sleep 0.1
    done
    make_paths "$work/exact.txt" "$work/exact.paths"
    make_paths "$work/fuzzy.txt" "$work/fuzzy.paths"
    make_paths "$work/miss.txt" "$work/miss.paths"
    echo "$label: $exe ${extra[*]}"
    echo "a typed variant's reply: $(curl -fs "http://127.0.0.1:$port$(head -1 "$work/fuzzy.paths")")"
    echo "answer endpoint, $connections connections, ${seconds} s per run, $(nproc) cores:"
    : > "$work/figures.$label"
    run "exact wording (keep-alive)" "$work/exact.paths" "" "$label"
    run "typed variant, fuzzy (keep-alive)" "$work/fuzzy.paths" "" "$label"
    run "unknown question (keep-alive)" "$work/miss.paths" "" "$label"
    run "exact wording (connection close)" "$work/exact.paths" close "$label"
    kill "$server"
    wait "$server" 2>/dev/null || true
    server=""
}

bench "$service" this
if [ -n "$baseline" ]; then
    bench "$baseline" baseline
    echo "this build / baseline, req/s:"
    paste "$work/figures.this" "$work/figures.baseline" | awk -F'\t' '{
        split("exact|fuzzy|unknown|exact, close", name, "|");
        split($1, a, " "); split($2, b, " ");
        printf "  %-16s %8.0f / %8.0f = %.2f\n", name[NR], a[1], b[1], a[1] / b[1] }'
fi
