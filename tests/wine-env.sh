# Sourced by the rig scripts: the environment every Wine process of a run gets.
# $1: the session folder (holds the prefix, the locale when it is not
# zh_CN.UTF-8 and, under Xvfb, the display number).
kelvora_wine_env() {
    local session="$1"
    local locale=zh_CN.UTF-8
    if [ -f "$session/locale" ]; then
        locale="$(cat "$session/locale")"
    fi
    export WINEPREFIX="$session/prefix"
    export WINEARCH=win32
    export WINEDEBUG=-all
    export WINEDLLOVERRIDES="mscoree,mshtml="
    export LANG="$locale"
    export LC_ALL="$locale"
    if [ -f "$session/display" ]; then
        export DISPLAY=":$(cat "$session/display")"
    fi
}

# The real server binary: Debian's wrapper forces -p0, which ends the server
# as soon as no client is left.
if [ -x /usr/lib/wine/wineserver32 ]; then
    KELVORA_WINESERVER=/usr/lib/wine/wineserver32
else
    KELVORA_WINESERVER=/usr/lib/wine/wineserver64
fi
