#!/bin/sh
# start: makes sure an X server answers (starting Xvfb when there is no display),
#        creates the Wine prefix once and leaves a persistent wineserver running,
#        so that each test process starts in well under a second.
# stop:  ends the wineserver (and the Xvfb this script started).
# LARKSPAN_WINEARCH chooses the Wine (wine-env.sh); for the 32-bit one the server
# runs inside the i386 root, which start makes first when it is missing.
set -e
. "$(dirname "$0")/wine-env.sh"
pidfile="$WINEPREFIX.xvfb.pid"
case "$1" in
start)
    if ! reason=$(wine_skip_reason); then
        echo "$kSkipMarker $reason"
        exit 0
    fi
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
        wineserver_cmd -k >/dev/null 2>&1 || true
        rm -rf "$WINEPREFIX"
    fi
    mkdir -p "$WINEPREFIX"
    # The server and every Wine service process write to /dev/null, never to
    # this script's output: CTest waits for that pipe to close, and they live
    # for as long as the server does.
    wineserver_cmd -p >/dev/null 2>&1 </dev/null || true
    # The first start creates the prefix; later starts are quick. Every start
    # runs one program here, so that Wine's own service processes start now,
    # and not inside the first test.
    if [ ! -e "$WINEPREFIX/.larkspan-ready" ]; then
        wine_cmd wineboot -i >/dev/null 2>&1 </dev/null
        touch "$WINEPREFIX/.larkspan-ready"
    fi
    # On a display without a window manager (the tests' Xvfb), top-level
    # windows are not handed to one: Wine would wait two seconds for its
    # answer every time a managed window is hidden or destroyed (each dialog
    # and message box that closes). Wine then draws the frames itself, as
    # Windows does. A desktop with a window manager keeps managed windows.
    x11key='HKCU\Software\Wine\X11 Driver'
    if xprop -display "$DISPLAY" -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'; then
        wine_cmd reg delete "$x11key" /v Managed /f >/dev/null 2>&1 </dev/null || true
    else
        wine_cmd reg add "$x11key" /v Managed /d N /f >/dev/null 2>&1 </dev/null
    fi
    echo "wine prefix $WINEPREFIX (${LARKSPAN_WINEARCH:-win64}) ready on display $DISPLAY"
    ;;
stop)
    if wine_skip_reason >/dev/null; then
        wineserver_cmd -k >/dev/null 2>&1 || true
        wineserver_cmd -w >/dev/null 2>&1 || true
    fi
    if [ -f "$pidfile" ]; then kill "$(cat "$pidfile")" 2>/dev/null || true; rm -f "$pidfile"; fi
    echo "wine server stopped"
    ;;
*) echo "usage: $0 start|stop" >&2; exit 2 ;;
esac
