#!/bin/sh
# start: makes sure an X server answers (starting Xvfb when there is no display),
#        creates the Wine prefix once and leaves a persistent wineserver running,
#        so that each test process starts in well under a second.
# stop:  ends the wineserver (and the Xvfb this script started).
set -e
: "${LARKSPAN_WINEPREFIX:?}"
export WINEPREFIX="$LARKSPAN_WINEPREFIX" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEARCH=win64
if [ -z "$DISPLAY" ]; then export DISPLAY="${LARKSPAN_DISPLAY:-:97}"; fi
pidfile="$WINEPREFIX.xvfb.pid"
case "$1" in
start)
    if ! xdpyinfo -display "$DISPLAY" >/dev/null 2>&1 && ! xset -display "$DISPLAY" q >/dev/null 2>&1; then
        if command -v Xvfb >/dev/null 2>&1; then
            Xvfb "$DISPLAY" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
            echo $! > "$pidfile"
            i=0; while [ $i -lt 50 ] && [ ! -e "/tmp/.X11-unix/X${DISPLAY#:}" ]; do sleep 0.1; i=$((i+1)); done
        fi
    fi
    # A prefix whose first-time set-up was interrupted looks usable but is not
    # (its COM registrations are missing, so picture decoding fails): only a
    # prefix marked as complete is kept.
    if [ -d "$WINEPREFIX" ] && [ ! -e "$WINEPREFIX/.larkspan-ready" ]; then
        /usr/lib/wine/wineserver -k >/dev/null 2>&1 || true
        rm -rf "$WINEPREFIX"
    fi
    mkdir -p "$WINEPREFIX"
    /usr/lib/wine/wineserver -p >/dev/null 2>&1 || true
    # The first start creates the prefix; later starts are quick. Every start
    # runs one program here, so that Wine's own service processes start now,
    # with their output on /dev/null, and not inside the first test (whose
    # output pipe they would hold open for as long as the server lives).
    if [ ! -e "$WINEPREFIX/.larkspan-ready" ]; then
        /usr/lib/wine/wine64 wineboot -i >/dev/null 2>&1
        touch "$WINEPREFIX/.larkspan-ready"
    fi
    /usr/lib/wine/wine64 cmd /c exit >/dev/null 2>&1
    echo "wine prefix $WINEPREFIX ready on display $DISPLAY"
    ;;
stop)
    /usr/lib/wine/wineserver -k >/dev/null 2>&1 || true
    /usr/lib/wine/wineserver -w >/dev/null 2>&1 || true
    if [ -f "$pidfile" ]; then kill "$(cat "$pidfile")" 2>/dev/null || true; rm -f "$pidfile"; fi
    echo "wine server stopped"
    ;;
*) echo "usage: $0 start|stop" >&2; exit 2 ;;
esac
