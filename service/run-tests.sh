#!/bin/bash
# Builds the answer service with the host compiler and runs its tests: once on
# SQLite files, once on PostgreSQL (a private cluster started for the run and
# removed after it), then the multi-instance test behind haproxy and the
# hostile-client program. Needs what scripts/install-deps.sh installs; the
# PostgreSQL server and haproxy are installed here when missing.
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

echo "== service tests on SQLite"
"$build/tests/kelvora-service-tests" --gtest_brief=1

if ! ls /usr/lib/postgresql/*/bin/initdb >/dev/null 2>&1 || ! command -v haproxy >/dev/null ||
   ! /usr/bin/python3 -c 'import psycopg2' 2>/dev/null; then
    DEBIAN_FRONTEND=noninteractive apt-get install -y -q -o DPkg::Lock::Timeout=600 --no-install-recommends \
        postgresql libpq-dev haproxy python3-psycopg2 >"$build/apt.log" 2>&1 || { cat "$build/apt.log"; exit 1; }
fi
# The cluster's folder must be the postgres user's; a build folder inside a
# home directory may not be reachable by it, so it lives under /tmp.
cluster="$(mktemp -d /tmp/kelvora-pg-XXXXXX)"
trap '"$here/tests/pg-cluster.sh" stop "$cluster"' EXIT
database="$("$here/tests/pg-cluster.sh" start "$cluster")"

echo "== service tests on PostgreSQL"
KELVORA_TEST_DATABASE="$database" KELVORA_SERVICE_SECRET="secret shared by the test instances" \
    "$build/tests/kelvora-service-tests" --gtest_brief=1

# Three instances behind haproxy, one killed and started again, then the
# database restarted under them (about 21 s).
echo "== three instances on PostgreSQL behind haproxy"
KELVORA_TEST_DATABASE="$database" KELVORA_TEST_CLUSTER_DIR="$cluster" "$build/tests/kelvora-service-cluster"

# The operators' console in headless chromium, on SQLite and on the private
# PostgreSQL cluster (about 12 s each). Debian's python3, which has
# python3-selenium and python3-psycopg2. KELVORA_SCREENSHOTS=DIR keeps the
# screenshots (service/docs holds the README's).
echo "== the console in a browser on SQLite"
/usr/bin/python3 "$here/tests/console_browser_test.py" --service "$build/kelvora-service" \
    ${KELVORA_SCREENSHOTS:+--screenshots "$KELVORA_SCREENSHOTS"}
echo "== the console in a browser on PostgreSQL"
/usr/bin/python3 "$here/tests/console_browser_test.py" --service "$build/kelvora-service" --database "$database"
# Hostile clients against the shipped server (about 30 s); prints its table.
"$build/tests/kelvora-service-hostile"
