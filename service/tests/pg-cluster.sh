#!/bin/bash
# A private PostgreSQL cluster for one test run: pg-cluster.sh start DIR
# makes DIR (chmod 700, owned by the postgres user when run as root), starts a
# cluster there that listens on its own Unix socket in DIR only (no TCP
# port), creates the database kelvora_test with the pg_trgm extension and
# prints its connection URI. pg-cluster.sh restart DIR restarts it (as a
# database server's restart under running clients); pg-cluster.sh stop DIR
# stops it and removes DIR.
# initdb refuses to run as root, so as root the cluster runs as postgres.
set -euo pipefail
command="${1:-}"
dir="${2:-}"
if [ -z "$command" ] || [ -z "$dir" ]; then
    echo "usage: $0 start|restart|stop DIR" >&2
    exit 2
fi
bin="$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1)"
if [ -z "$bin" ]; then
    echo "pg-cluster: no PostgreSQL server installed (scripts/install-deps.sh installs it)" >&2
    exit 1
fi
as_owner() {
    if [ "$(id -u)" = 0 ]; then runuser -u postgres -- "$@"; else "$@"; fi
}

case "$command" in
start)
    mkdir -p "$dir"
    chmod 700 "$dir"
    [ "$(id -u)" = 0 ] && chown postgres:postgres "$dir"
    # UTF-8 text, so that trigrams of Chinese text are what they are.
    as_owner "$bin/initdb" -D "$dir/data" -U postgres --auth=trust --encoding=UTF8 --locale=C.UTF-8 \
        >"$dir/initdb.log" 2>&1 || { cat "$dir/initdb.log" >&2; exit 1; }
    as_owner "$bin/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w -t 30 \
        -o "-c listen_addresses='' -c unix_socket_directories='$dir' -c port=5432 -c max_connections=200" \
        start >/dev/null || { cat "$dir/server.log" >&2; exit 1; }
    as_owner "$bin/psql" -q -h "$dir" -U postgres -d postgres -v ON_ERROR_STOP=1 \
        -c "CREATE DATABASE kelvora_test" >/dev/null
    as_owner "$bin/psql" -q -h "$dir" -U postgres -d kelvora_test -v ON_ERROR_STOP=1 \
        -c "CREATE EXTENSION IF NOT EXISTS pg_trgm" >/dev/null
    echo "postgresql://postgres@/kelvora_test?host=$dir"
    ;;
restart)
    as_owner "$bin/pg_ctl" -D "$dir/data" -l "$dir/server.log" -m fast -w -t 30 restart >/dev/null
    ;;
stop)
    if [ -d "$dir/data" ]; then
        as_owner "$bin/pg_ctl" -D "$dir/data" -m fast -w -t 30 stop >/dev/null || true
    fi
    rm -rf "$dir"
    ;;
*)
    echo "usage: $0 start|restart|stop DIR" >&2
    exit 2
    ;;
esac
