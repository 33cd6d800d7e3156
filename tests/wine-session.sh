#!/bin/bash
# Starts or stops what a test run shares: an X server when there is no display,
# a Wine prefix created by Wine itself, and one persistent wineserver.
#   wine-session.sh start SESSION_DIR ACP_CHECK_EXE [LOCALE ANSI_CODE_PAGE]
#   wine-session.sh stop  SESSION_DIR
# By default the locale is zh_CN.UTF-8, whose ANSI code page is 936.
set -u
here="$(cd "$(dirname "$0")" && pwd)"
. "$here/wine-env.sh"
action="$1"
session="$2"
mkdir -p "$session"

stop_session() {
    kelvora_wine_env "$session"
    "$KELVORA_WINESERVER" -k >/dev/null 2>&1
    if [ -f "$session/xvfb.pid" ]; then
        kill "$(cat "$session/xvfb.pid")" 2>/dev/null
        rm -f "$session/xvfb.pid" "$session/display"
    fi
}

case "$action" in
start)
    # In a subshell: the stale session's DISPLAY must not look like the caller's.
    (stop_session)
    locale="${4:-zh_CN.UTF-8}"
    expected_acp="${5:-936}"
    if [ "$locale" = zh_CN.UTF-8 ]; then rm -f "$session/locale"; else echo "$locale" > "$session/locale"; fi
    if [ -z "${DISPLAY:-}" ]; then
        rm -f "$session/display"
        Xvfb -displayfd 3 -nolisten tcp -screen 0 1280x1024x24 3>"$session/display" >/dev/null 2>&1 &
        echo $! > "$session/xvfb.pid"
        for _ in $(seq 100); do [ -s "$session/display" ] && break; sleep 0.1; done
        if [ ! -s "$session/display" ]; then echo "Xvfb did not start" >&2; exit 1; fi
    fi
    kelvora_wine_env "$session"
    # Let Wine make the prefix itself; then keep one server for the whole run.
    timeout 240 wine wineboot -i >"$session/wineboot.log" 2>&1 </dev/null
    timeout 60 "$KELVORA_WINESERVER" -w
    "$KELVORA_WINESERVER" -p >/dev/null 2>&1 </dev/null
    acp_file="$session/acp.txt"
    rm -f "$acp_file"
    timeout 60 wine "$3" "$(winepath -w "$acp_file" 2>/dev/null)" >/dev/null 2>&1 </dev/null
    acp="$(tr -d '\r\n' < "$acp_file" 2>/dev/null)"
    echo "Wine ANSI code page: ${acp:-unknown}, display ${DISPLAY:-none}"
    if [ "$acp" != "$expected_acp" ]; then
        echo "Wine's ANSI code page is not $expected_acp: is the $locale locale generated?" >&2
        exit 1
    fi
    ;;
stop)
    stop_session
    ;;
*)
    echo "usage: $0 start|stop SESSION_DIR [ACP_CHECK_EXE [LOCALE ANSI_CODE_PAGE]]" >&2
    exit 2
    ;;
esac
