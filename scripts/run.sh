#!/bin/bash
# Builds Kelvora and the answer service, starts the service with the sample
# question bank on 127.0.0.1:8787 (Kelvora's default service address), then
# starts Kelvora under Wine. Installs what is missing first.
# With no display it runs under Xvfb, asks one sample question, saves a
# screenshot of the window and prints the screenshot's path.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${KELVORA_BUILD_DIR:-$root/build}"
session="$build/run-session"

bash "$root/scripts/install-deps.sh"
cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" >/dev/null
cmake --build "$build" -j"$(nproc)" --target Kelvora kelvora_demo_lookup
service_build="$build/service"
cmake -S "$root/service" -B "$service_build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$service_build" -j"$(nproc)" --target kelvora-service >/dev/null

. "$root/tests/wine-env.sh"
mkdir -p "$session"
headless=0
if [ -z "${DISPLAY:-}" ]; then
    headless=1
    rm -f "$session/display"
    Xvfb -displayfd 3 -nolisten tcp -screen 0 1280x1024x24 3>"$session/display" >/dev/null 2>&1 &
    xvfb_pid=$!
    for _ in $(seq 100); do [ -s "$session/display" ] && break; sleep 0.1; done
fi
kelvora_wine_env "$session"

# The answer service with the sample bank (importing again changes nothing).
"$service_build/kelvora-service" import --db "$session/kelvora.db" "$root/service/data/sample-bank.csv" >/dev/null
service_pid=""
if ! curl -fs http://127.0.0.1:8787/healthz >/dev/null 2>&1; then
    "$service_build/kelvora-service" serve --db "$session/kelvora.db" >"$session/service.log" 2>&1 &
    service_pid=$!
    for _ in $(seq 100); do curl -fs http://127.0.0.1:8787/healthz >/dev/null 2>&1 && break; sleep 0.1; done
fi

cleanup() {
    [ -n "${app_pid:-}" ] && kill "$app_pid" 2>/dev/null || true
    "$KELVORA_WINESERVER" -k >/dev/null 2>&1 || true
    [ -n "${xvfb_pid:-}" ] && kill "$xvfb_pid" 2>/dev/null || true
    [ -n "$service_pid" ] && kill "$service_pid" 2>/dev/null || true
}
trap cleanup EXIT

if [ "$headless" = 0 ]; then
    wine "$build/app/Kelvora.exe"
    exit 0
fi

# With no window manager, let Wine draw the frame and title bar itself so
# that the screenshot shows the whole window.
wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1 </dev/null || true
wine "$build/app/Kelvora.exe" >"$session/kelvora.log" 2>&1 </dev/null &
app_pid=$!

window=""
for _ in $(seq 600); do
    window="$(xwininfo -root -tree 2>/dev/null | grep 'Kelvora2.0' | awk '{print $1}' | head -n1 || true)"
    [ -n "$window" ] && break
    sleep 0.1
done
if [ -z "$window" ]; then
    echo "Kelvora's window did not appear" >&2
    exit 1
fi
# One sample lookup, as a user would ask it.
wine "$build/tests/demo/kelvora_demo_lookup.exe" "中国的首都是哪座城市？" >"$session/demo.log" 2>&1 </dev/null || echo "the sample lookup did not finish (exit $?)" >&2
sleep 1
shot="$build/kelvora-window.png"
import -window "$window" "$shot"
echo "$shot"
