#!/bin/bash
# Installs what building and testing Kelvora needs on Debian 12, only what is missing.
set -euo pipefail

need=()
have() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }

if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
fi

for p in wine wine32 g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix binutils-mingw-w64-i686 \
         cmake make xvfb xauth fonts-wqy-microhei locales imagemagick x11-apps x11-utils googletest \
         g++ pkg-config libgtest-dev libboost-dev libsqlite3-dev libssl-dev libopencc-dev libopencc-data nlohmann-json3-dev wrk curl \
         clang libclang-rt-14-dev postgresql libpq-dev haproxy \
         libsodium-dev libjs-chart.js chromium chromium-driver python3-selenium python3-psycopg2; do
    have "$p" || need+=("$p")
done

# Another installation may be running: wait for apt's locks (never remove
# them). Installing waits on the dpkg lock itself; an update that finds the
# package lists locked fails and is tried again, for ten minutes at the most.
lockWait=(-o DPkg::Lock::Timeout=600)
if [ ${#need[@]} -gt 0 ]; then
    export DEBIAN_FRONTEND=noninteractive
    for attempt in $(seq 60); do
        apt-get update -q "${lockWait[@]}" && break
        [ "$attempt" -lt 60 ] || exit 1
        sleep 10
    done
    apt-get install -y -q --no-install-recommends "${lockWait[@]}" "${need[@]}"
fi

# Wine's ANSI code page follows the locale: zh_CN.UTF-8 gives code page 936;
# en_US.UTF-8 (1252) is the tests' other system.
for loc in zh_CN en_US; do
    if ! locale -a 2>/dev/null | grep -qix "$loc.utf8"; then
        sed -i "s/^# *$loc.UTF-8 UTF-8/$loc.UTF-8 UTF-8/" /etc/locale.gen
        grep -q "^$loc.UTF-8 UTF-8" /etc/locale.gen || echo "$loc.UTF-8 UTF-8" >> /etc/locale.gen
        locale-gen >/dev/null
    fi
done
