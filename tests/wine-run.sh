#!/bin/bash
# Runs one Windows test program under Wine in the run's session.
#   wine-run.sh SESSION_DIR PROGRAM.exe [ARGS...]
# The program's output goes to a file first: a child that the program starts
# inherits its standard handles, and a pipe would keep ctest waiting for it.
set -u
here="$(cd "$(dirname "$0")" && pwd)"
. "$here/wine-env.sh"
session="$1"
shift
kelvora_wine_env "$session"
log="$(mktemp "$session/run.XXXXXX")"
wine "$@" >"$log" 2>&1 </dev/null
rc=$?
cat "$log"
rm -f "$log"
exit $rc
