#!/bin/bash
# SQLite against PostgreSQL, one instance against three behind haproxy, in one
# run on the bank of bench.sh (100,000 questions): answer requests per second
# and p50/p99 for exact wordings, typed variants (fuzzy) and reports, the CPU the
# database and the instances spent per lookup, the instances' memory, and the
# cost of the alternative that was not taken (pg_trgm candidates per lookup).
# A private PostgreSQL cluster is started for the run and removed after it.
# Usage: service/bench-cluster.sh [seconds per run, default 10] [connections, default 16]
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
source "$here/bench-common.sh" "$@"
cluster="$(mktemp -d /tmp/kelvora-bench-pg-XXXXXX)"
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; done
    "$here/tests/pg-cluster.sh" stop "$cluster" || true
    rm -rf "$work"
}
trap cleanup EXIT

build_service_and_bank
head -c 32 /dev/urandom >"$work/secret" && chmod 600 "$work/secret"

clock() { date +%s.%N; }
elapsed() { awk -v s="$1" -v e="$(clock)" 'BEGIN { printf "%.1f", e - s }'; }

start=$(clock)
"$service" import --db "$work/bench.db" "$work/bank.csv" >/dev/null
echo "import of 100,000 questions, SQLite: $(elapsed "$start") s"
database="$("$here/tests/pg-cluster.sh" start "$cluster")"
start=$(clock)
"$service" import --database "$database" "$work/bank.csv" >/dev/null
echo "import of 100,000 questions, PostgreSQL: $(elapsed "$start") s"
postmaster="$(head -1 "$cluster/data/postmaster.pid")"

# CPU seconds of a process and its children that are alive (the database's backends).
ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat" 2>/dev/null || echo 0; }
cpu_of() {
    local total=0 pid
    for pid in "$@"; do total=$((total + $(ticks "$pid"))); done
    echo "$total"
}
database_pids() { echo "$postmaster" $(ps --ppid "$postmaster" -o pid= || true); }
hz=$(getconf CLK_TCK)

wait_healthy() {
    for _ in $(seq 200); do
        curl -fs "http://127.0.0.1:$1/healthz" >/dev/null 2>&1 && return 0
        sleep 0.1
    done
    echo "no healthy server on port $1" >&2
    return 1
}

# One load against whatever listens on $port; instance pids in $servers.
run() {
    local label="$1" paths="$2" clients="${3:-$connections}" before_db before_servers result
    before_db=$(cpu_of $(database_pids))
    before_servers=$(cpu_of $servers)
    result="$(wrk -t2 -c"$clients" -d"${seconds}s" -s "$work/paths.lua" "http://127.0.0.1:$port" -- "$paths" | tail -1)"
    local db_ticks=$(( $(cpu_of $(database_pids)) - before_db ))
    local server_ticks=$(( $(cpu_of $servers) - before_servers ))
    echo "$result" | awk -v label="$label" -v db="$db_ticks" -v sv="$server_ticks" -v hz="$hz" '{
        printf "  %-30s %8.0f req/s   p50 %6.2f ms   p99 %6.2f ms   errors %d   CPU per request: instances %5.0f us, database %5.1f us\n",
            label, $2, $3, $4, $5, sv / hz / $1 * 1e6, db / hz / $1 * 1e6 }'
}

measure() {
    make_paths "$work/exact.txt" "$work/exact.paths"
    make_paths "$work/fuzzy.txt" "$work/fuzzy.paths"
    echo "  a typed variant's reply: $(curl -fs "http://127.0.0.1:$port$(head -1 "$work/fuzzy.paths")")"
    run "exact wording" "$work/exact.paths"
    run "typed variant (fuzzy)" "$work/fuzzy.paths"
    # Two clients that wait for each reply: about the rate of the goal (1,000 a second), not saturation.
    run "typed variant, 2 connections" "$work/fuzzy.paths" 2
    while IFS= read -r question; do echo "/upmy/up.php?t=$(encode "$question")&d=%41"; done <"$work/exact.txt" >"$work/report.paths"
    run "report, committed before ok" "$work/report.paths"
    local pid
    for pid in $servers; do echo "  instance $pid: RSS $(awk '/VmRSS/ { printf "%.0f MB", $2 / 1024 }' "/proc/$pid/status")"; done
}

stop_all() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; done
    pids=()
}

common=(--lookup-rate 0 --report-rate 0 --secret-file "$work/secret")
echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "answer endpoint, $connections connections (wrk, keep-alive), ${seconds} s per run, $(nproc) cores, load generator on the same machine"

echo "SQLite, 1 instance:"
"$service" serve --listen "127.0.0.1:$port" --db "$work/bench.db" "${common[@]}" &
pids+=($!); servers="${pids[*]}"
wait_healthy "$port"
measure
stop_all

echo "PostgreSQL, 1 instance:"
start=$(clock)
"$service" serve --listen "127.0.0.1:$port" --database "$database" "${common[@]}" &
pids+=($!); servers="${pids[*]}"
wait_healthy "$port"
echo "  started with its copy of the bank in $(elapsed "$start") s"
measure
stop_all

echo "PostgreSQL, 3 instances behind haproxy:"
backends=""
for i in 1 2 3; do
    "$service" serve --listen "127.0.0.1:$((port + i))" --database "$database" "${common[@]}" --trust-forwarded-for &
    pids+=($!)
    backends+="    server k$i 127.0.0.1:$((port + i)) check inter 1s"$'\n'
done
servers="${pids[*]}"
for i in 1 2 3; do wait_healthy "$((port + i))"; done
cat >"$work/haproxy.cfg" <<CFG
global
    maxconn 4000
defaults
    mode http
    timeout connect 1s
    timeout client 10s
    timeout server 5s
    option forwardfor
frontend answers
    bind 127.0.0.1:$port
    default_backend lookups
backend lookups
    balance roundrobin
    option httpchk GET /healthz
$backends
CFG
haproxy -db -f "$work/haproxy.cfg" &
pids+=($!)
wait_healthy "$port"
measure
stop_all

echo "bank read again by an instance (100,000 questions): see 'started with its copy' above"
# The alternative: candidates from pg_trgm, one query per typed variant.
psql_run() { if [ "$(id -u)" = 0 ]; then runuser -u postgres -- psql "$@"; else psql "$@"; fi; }
psql_run -q -h "$cluster" -U postgres -d kelvora_test -c "CREATE INDEX IF NOT EXISTS questions_trgm ON questions USING gin (norm gin_trgm_ops)" >/dev/null
for threshold in 0.3 0.45; do
    {
        echo "SET pg_trgm.similarity_threshold = $threshold;"
        while IFS= read -r question; do
            q="${question//\'/\'\'}"
            q="${q// /}"
            echo "SELECT id FROM questions WHERE norm % '$q' ORDER BY similarity(norm, '$q') DESC LIMIT 20;"
        done <"$work/fuzzy.txt"
    } >"$work/trgm.sql"
    # One session, one query after another over the socket: the time is the database's work.
    start=$(clock)
    psql_run -q -h "$cluster" -U postgres -d kelvora_test <"$work/trgm.sql" >/dev/null
    took=$(elapsed "$start")
    awk -v t="$took" -v th="$threshold" 'BEGIN {
        printf "pg_trgm candidates at threshold %s, limit 20, 500 typed variants: %.2f ms per lookup (one session)\n",
            th, t / 500 * 1000 }'
done
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
