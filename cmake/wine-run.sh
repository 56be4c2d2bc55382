#!/bin/sh
# Runs a Windows program under Wine: wine-run.sh PREFIX-DIR PROGRAM [ARGS...]
# The prefix is created on first use; Wine's own diagnostics are silenced so
# that the program's output stands alone.
set -e
WINEPREFIX=$1
shift
export WINEPREFIX
export WINEDEBUG=-all
mkdir -p "$WINEPREFIX"
exec /usr/lib/wine/wine64 "$@"
