#!/bin/sh
# Runs a Windows program of this build under Wine: the emulator CTest puts in
# front of every cross-built test. The prefix lives inside the build folder, so
# tests never touch a user's own Wine set-up.
: "${LARKSPAN_WINEPREFIX:?LARKSPAN_WINEPREFIX must name the build's Wine prefix}"
export WINEPREFIX="$LARKSPAN_WINEPREFIX"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
export WINEARCH=win64
if [ -z "$DISPLAY" ]; then export DISPLAY="${LARKSPAN_DISPLAY:-:97}"; fi
exec /usr/lib/wine/wine64 "$@"
