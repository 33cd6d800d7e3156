#!/bin/bash
# Prints the program's layers and fails when they depend on each other in a
# circle: once from the include lines of the folders, once from the libraries'
# link graph as CMake writes it (cmake --graphviz), when a build folder is given.
#   bash scripts/check-layers.sh [build-folder]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-}"
folders=(owners text http json form webview lookup app engine)
status=0

# Prints "a b" pairs in dependency order, or the loop and a failure.
CheckOrder() {
    local what="$1" edges="$2" order
    if ! order=$(printf '%s\n' "$edges" | tsort 2>&1) || grep -q 'loop' <<<"$order"; then
        echo "FAIL: $what has a cycle:"
        printf '%s\n' "$order" | sed 's/^/  /'
        return 1
    fi
    echo "$what, from the top down: $(printf '%s\n' "$order" | grep -v '^-$' | tr '\n' ' ')"
}

includeEdges=""
for folder in "${folders[@]}"; do
    for used in $(grep -rhoE '^#include "[a-z]+/' "$root/$folder" --include='*.h' --include='*.cpp' --include='*.in' |
                  sed -E 's/#include "([a-z]+)\//\1/' | sort -u); do
        [[ "$used" == "$folder" ]] && continue
        includeEdges+="$folder $used"$'\n'
    done
    includeEdges+="$folder $folder"$'\n'
done
echo "include lines: $(printf '%s' "$includeEdges" | awk '$1 != $2 { printf "%s -> %s  ", $1, $2 }')"
CheckOrder "the folders' includes" "$includeEdges" || status=1

if [[ -n "$build" ]]; then
    graph="$build/layers-graph"
    mkdir -p "$graph"
    cp "$root/cmake/CMakeGraphVizOptions.cmake" "$build/CMakeGraphVizOptions.cmake"
    cmake --graphviz="$graph/kelvora.dot" "$build" >/dev/null
    # Edge lines end in a comment "// from -> to"; keep the program's own libraries.
    linkEdges=$(grep -oE '// [A-Za-z0-9_]+ -> [A-Za-z0-9_]+' "$graph/kelvora.dot" |
                awk '$2 ~ /^(kelvora_|engine_|node$|Kelvora$)/ && $4 ~ /^(kelvora_|engine_|node$|Kelvora$)/ { print $2, $4 }' |
                grep -v '^kelvora_core \|^kelvora_testsupport ' | sort -u)
    echo "libraries (from $graph/kelvora.dot):"
    printf '%s\n' "$linkEdges" | sed 's/ / -> /; s/^/  /'
    CheckOrder "the libraries' link graph" "$linkEdges" || status=1
fi
exit $status
