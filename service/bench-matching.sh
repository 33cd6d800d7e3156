#!/bin/bash
# Matching benchmark: recall, wrong answers and near-misses answered over the
# labelled evaluation set (data/bank.csv, data/eval-variants.tsv,
# data/eval-near-misses.tsv), then the CPU time of one lookup (exact, fuzzy,
# unknown, crafted) on a generated bank of 100,000 questions.
# Usage: service/bench-matching.sh [--failures] [--no-timing] [--questions N]
#        [--bank CSV] [--variants TSV] [--near-misses TSV]
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
build="${KELVORA_SERVICE_BUILD_DIR:-$here/../build-service}"

cmake -S "$here" -B "$build" -DCMAKE_BUILD_TYPE=Release -DKELVORA_SERVICE_BUILD_TESTS=ON >/dev/null
cmake --build "$build" -j2 --target kelvora-matching-bench >/dev/null
exec "$build/tests/kelvora-matching-bench" "$@"
