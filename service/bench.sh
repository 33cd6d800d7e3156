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
build="${KELVORA_SERVICE_BUILD_DIR:-$here/../build-service}"
seconds="${1:-10}"
connections="${2:-16}"
port="${KELVORA_BENCH_PORT:-18787}"
work="$(mktemp -d /tmp/kelvora-bench-XXXXXX)"
server=""
baseline="${KELVORA_BENCH_BASELINE:-}"
cleanup() {
    if [ -n "$server" ]; then kill "$server" 2>/dev/null || true; wait "$server" 2>/dev/null || true; fi
    rm -rf "$work"
}
trap cleanup EXIT

cmake -S "$here" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j"$(nproc)" --target kelvora-service >/dev/null
service="$build/kelvora-service"

# Questions from templates of shared phrasing with content words drawn from
# about 400 common characters, and a serial number that keeps them apart. The
# typed variant of a question has an extra character, a full-width question
# mark and spaces; an unknown question swaps the content words.
LC_ALL=C awk -v count=100000 -v dir="$work" 'BEGIN {
    srand(7);
    pool = "的一是在不了有和人这中大为上个国我以要他时来用们生到作地于出就分对成会可主发年动同工也能下过子说产种面而方后多定行学法所民得经十三之进着等部度家电力里如水化高自二理起小物现实加量都两体制机当使点从业本去把性好应开它合还因由其些然前外天政四日那社义事平形相全表间样与关各重新线内数正心反你明看原又么利比或但质气第向道命此变条只没结解问意建月公无系军很情者最立代想已通并提直题党程展五果料象员革位入常文总次品式活设及管特件长求老头基资边流路级少图山统接知较将组见计别她手角期根论运农指几九区强放决西被干做必战先回则任取据处府研质感商交类准济思领";
    npool = split(pool, chars, "");
    nt = split("在%s中，%s与%s之间的关系是什么|%s课程里%s对%s有什么影响|关于%s，下列说法中%s和%s哪个正确|%s学科中%s的定义与%s有何区别|请简述%s领域%s如何作用于%s|%s里%s和%s共同遵循的规律是什么|下列关于%s的叙述，%s与%s哪一项是错误的|%s的%s通常用什么方法来衡量%s", template, "|");
    print "question,answer" > dir "/bank.csv";
    for (i = 1; i <= count; i++) {
        s = word(); a = word(); b = word();
        t = template[int(rand() * nt) + 1];
        q = sprintf(t, s, a, b) "（第" i "题）";
        print q ",答案" i > dir "/bank.csv";
        if (i % 200 == 0) {
            print q > dir "/exact.txt";
            print sprintf(t, s " ", a "了", b) " （第" i "题）？" > dir "/fuzzy.txt";
            print sprintf(t, s, b, a) "（第" i + count "题）" > dir "/miss.txt";
        }
    }
}
# Two to four characters; mawk splits bytes, so a character is three of them.
function word(   n, w, k, c) {
    n = 2 + int(rand() * 3); w = "";
    for (k = 0; k < n; k++) { c = int(rand() * (npool / 3)); w = w chars[3 * c + 1] chars[3 * c + 2] chars[3 * c + 3]; }
    return w;
}'

rm -f "$work/bench.db"
start=$(date +%s.%N)
"$service" import --db "$work/bench.db" "$work/bank.csv" >/dev/null
end=$(date +%s.%N)
awk -v s="$start" -v e="$end" 'BEGIN { printf "import of 100,000 questions: %.1f s\n", e - s }'

encode() { printf '%s' "$1" | od -An -tx1 -v | tr -d ' \n' | sed 's/../%&/g' | tr 'a-f' 'A-F'; }

# One answer request path per question, with a key from the lookup page.
make_paths() {
    while IFS= read -r question; do
        q="$(encode "$question")"
        key="$(curl -fs "http://127.0.0.1:$port/get_cha_url.php?t=$q" | sed 's/.*<body>\(.*\)<\/body>.*/\1/')"
        echo "/api/answer?q=$q&k=$key"
    done < "$1" > "$2"
}

cat > "$work/paths.lua" <<'LUA'
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
    io.write(string.format("%8.0f req/s   p50 %6.2f ms   p99 %6.2f ms   (%d requests, %d errors)\n",
        rps, latency:percentile(50) / 1000, latency:percentile(99) / 1000, summary.requests, errors))
end
LUA

run() {
    printf '%-34s' "$1"
    wrk -t2 -c"$connections" -d"${seconds}s" -s "$work/paths.lua" "http://127.0.0.1:$port" -- "$2" "${3:-}" | tail -1 |
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
