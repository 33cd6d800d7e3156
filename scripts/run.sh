#!/bin/bash
# Builds Kelvora and starts it under Wine. Installs what is missing first.
# With no display it runs under Xvfb, saves a screenshot of the window and
# prints the screenshot's path.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${KELVORA_BUILD_DIR:-$root/build}"
session="$build/run-session"

bash "$root/scripts/install-deps.sh"
cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" >/dev/null
cmake --build "$build" -j"$(nproc)" --target Kelvora

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

if [ "$headless" = 0 ]; then
    exec wine "$build/app/Kelvora.exe"
fi

cleanup() {
    [ -n "${app_pid:-}" ] && kill "$app_pid" 2>/dev/null || true
    "$KELVORA_WINESERVER" -k >/dev/null 2>&1 || true
    kill "$xvfb_pid" 2>/dev/null || true
}
trap cleanup EXIT

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
sleep 1
shot="$build/kelvora-window.png"
import -window "$window" "$shot"
echo "$shot"
