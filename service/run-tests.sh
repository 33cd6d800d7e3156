#!/bin/bash
# Builds the answer service with the host compiler and runs its tests.
# Needs what scripts/install-deps.sh installs; the hostile-client table is printed last.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
build="${KELVORA_SERVICE_BUILD_DIR:-$here/../build-service}"

mkdir -p "$build"
log="$build/build.log"
# Build chatter goes to a log that is shown only when something fails.
if ! { cmake -S "$here" -B "$build" -DCMAKE_BUILD_TYPE=Release -DKELVORA_SERVICE_BUILD_TESTS=ON &&
       cmake --build "$build" -j"$(nproc)"; } >"$log" 2>&1; then
    cat "$log"
    echo "kelvora-service: build failed" >&2
    exit 1
fi
"$build/tests/kelvora-service-tests" --gtest_brief=1
# The operators' console in headless chromium (about 15 s). Debian's python3,
# which has python3-selenium. KELVORA_SCREENSHOTS=DIR keeps the screenshots
# (service/docs holds the README's).
/usr/bin/python3 "$here/tests/console_browser_test.py" --service "$build/kelvora-service" \
    ${KELVORA_SCREENSHOTS:+--screenshots "$KELVORA_SCREENSHOTS"}
# Hostile clients against the shipped server (about 30 s); prints its table.
"$build/tests/kelvora-service-hostile"
