# Sourced by bench.sh and bench-cluster.sh with their arguments ([seconds per
# run] [connections]) and $here set: the settings both read, the service built
# in Release with the generated bank of 100,000 questions, and the answer
# request paths and wrk script the loads replay.
build="${KELVORA_SERVICE_BUILD_DIR:-$here/../build-service}"
seconds="${1:-10}"
connections="${2:-16}"
port="${KELVORA_BENCH_PORT:-18787}"
work="$(mktemp -d /tmp/kelvora-bench-XXXXXX)"

# Sets $service; writes bank.csv and the question lists into $work.
build_service_and_bank() {
    cmake -S "$here" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
    cmake --build "$build" -j"$(nproc)" --target kelvora-service >/dev/null
    service="$build/kelvora-service"
    "$here/tests/make-bench-bank.sh" "$work"
}

encode() { printf '%s' "$1" | od -An -tx1 -v | tr -d ' \n' | sed 's/../%&/g' | tr 'a-f' 'A-F'; }

# One answer request path per question in $1, with a key from the lookup page
# of the server on $port, into $2.
make_paths() {
    while IFS= read -r question; do
        q="$(encode "$question")"
        key="$(curl -fs "http://127.0.0.1:$port/get_cha_url.php?t=$q" | sed 's/.*<body>\(.*\)<\/body>.*/\1/')"
        echo "/api/answer?q=$q&k=$key"
    done <"$1" >"$2"
}

# wrk replays the paths file given after --, each connection closed after its
# request when "close" follows; the last line is: requests, requests per
# second, p50 and p99 in ms, errors.
cat >"$work/paths.lua" <<'LUA'
local paths = {}
local n = 0
init = function(args)
    for line in io.lines(args[1]) do n = n + 1; paths[n] = line end
    if args[2] == "close" then wrk.headers["Connection"] = "close" end
end
local i = 0
request = function()
    i = i % n + 1
    return wrk.format("GET", paths[i])
end
done = function(summary, latency, requests)
    local rps = summary.requests / (summary.duration / 1e6)
    local errors = summary.errors.connect + summary.errors.read + summary.errors.write + summary.errors.status + summary.errors.timeout
    io.write(string.format("%d %.0f %.2f %.2f %d\n", summary.requests, rps, latency:percentile(50) / 1000,
        latency:percentile(99) / 1000, errors))
end
LUA
