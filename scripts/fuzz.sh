#!/bin/bash
# Builds the native fuzz targets (clang, libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs each for a bounded time. Fails on any
# crash, broken invariant, leak, time-out or memory blow-up.
#
#   scripts/fuzz.sh [target ...]     all targets when none is named
#   FUZZ_TOTAL_SECONDS=60            time shared by the targets (default 60)
#   FUZZ_SECONDS=300                 time per target instead, for longer runs
#   KELVORA_FUZZ_BUILD_DIR=dir       build and working corpora (default build/fuzz)
set -uo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${KELVORA_FUZZ_BUILD_DIR:-$root/build/fuzz}"

all=(FindTextFuzzer ReplaceTextFuzzer TextSliceFuzzer PercentEncodeFuzzer
     JsonLiteralFuzzer JsonLiteralGeneratedFuzzer ServiceQueryFuzzer ServiceQuestionFuzzer RequestHeadFuzzer)
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=("${all[@]}")

mkdir -p "$build"
if ! cmake -S "$root/fuzz" -B "$build" -DCMAKE_CXX_COMPILER=clang++ >"$build/configure.log" 2>&1 ||
   ! cmake --build "$build" -j2 >"$build/build.log" 2>&1; then
    cat "$build/configure.log" "$build/build.log" 2>/dev/null | tail -40
    echo "fuzz: the targets did not build"
    exit 1
fi

total="${FUZZ_TOTAL_SECONDS:-60}"
seconds="${FUZZ_SECONDS:-$(( total / ${#targets[@]} > 0 ? total / ${#targets[@]} : 1 ))}"
failed=0
for target in "${targets[@]}"; do
    work="$build/corpus/$target"
    artifacts="$build/artifacts"
    log="$build/$target.log"
    mkdir -p "$work" "$artifacts"
    options=(-max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=4096
             -print_final_stats=1 -artifact_prefix="$artifacts/$target-")
    [ -f "$root/fuzz/$target.dict" ] && options+=(-dict="$root/fuzz/$target.dict")
    # New inputs go to the working corpus in the build folder; the seeds stay as committed.
    # The outer bound only matters if libFuzzer itself stops responding.
    timeout --kill-after=10 $(( seconds + 120 )) \
        "$build/$target" "${options[@]}" "$work" "$root/fuzz/corpus/$target" >"$log" 2>&1
    rc=$?
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
    speed=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
    corpus=$(grep -o 'corp: [0-9]*/[0-9]*[a-zA-Z]*' "$log" | tail -1 | cut -d' ' -f2)
    if [ $rc -eq 0 ]; then
        printf 'fuzz: %-28s ok      %10s runs  %7s/s  corpus %s  (%ss)\n' "$target" "${runs:-?}" "${speed:-?}" "${corpus:-?}" "$seconds"
    else
        failed=1
        printf 'fuzz: %-28s FAILED  exit %s, log %s\n' "$target" "$rc" "$log"
        grep -E 'invariant broken|ERROR:|SUMMARY:|Test unit written|runtime error' "$log" | head -8 | sed 's/^/      /'
    fi
done
exit $failed
