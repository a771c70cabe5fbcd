#!/bin/sh
# start:   makes sure an X server answers: the caller's DISPLAY when it set one, otherwise an Xvfb
#          of this prefix's own (Xvfb picks a free display number with -displayfd, written into
#          WINEPREFIX.display for the test programs), never one that another run started; then
#          creates the Wine prefix once and leaves a persistent wineserver running, so that each
#          test process starts in well under a second.
# stop:    ends the wineserver and the Xvfb that start started for this prefix, nothing else.
# display: prints the display the test programs of this prefix use.
# LARKSPAN_WINEARCH chooses the Wine (wine-env.sh); for the 32-bit build's ways the server runs
# inside a root of scripts/wine32, which start makes first when it is missing.
set -e
. "$(dirname "$0")/wine-env.sh"
pidfile="$WINEPREFIX.xvfb.pid"

# started_at PID: the process's start time (in clock ticks since boot), which tells it apart from
# a later process that was given the same number.
started_at() { sed 's/.*) //' "/proc/$1/stat" 2>/dev/null | cut -d' ' -f20; }

# own_xvfb: true when the pid file names the Xvfb that start started for this prefix and that
# still runs. Process numbers come round again quickly on a machine that starts thousands of
# Wine processes: a number alone could name any process by now, another run's among them.
own_xvfb() {
    [ -s "$pidfile" ] || return 1
    read -r pid since < "$pidfile" || return 1
    [ -n "$since" ] && [ "$(started_at "$pid")" = "$since" ] &&
        tr '\0' ' ' < "/proc/$pid/cmdline" 2>/dev/null | grep -q '^[^ ]*Xvfb .*-displayfd'
}

start_xvfb() {
    command -v Xvfb >/dev/null 2>&1 || { echo "Xvfb is missing (scripts/install-deps installs it)" >&2; exit 1; }
    rm -f "$wine_display_file" "$pidfile"
    number="$WINEPREFIX.xvfb.number"
    : > "$number"
    # Nothing of this script's output reaches the server: CTest waits for that pipe to close.
    Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$number" >/dev/null 2>&1 </dev/null &
    pid=$!
    echo "$pid $(started_at "$pid")" > "$pidfile"
    # The number is written once the server accepts connections.
    i=0
    while [ $i -lt 100 ] && ! grep -q '^[0-9][0-9]*$' "$number"; do
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.1
        i=$((i + 1))
    done
    grep -q '^[0-9][0-9]*$' "$number" || { echo "Xvfb did not start" >&2; rm -f "$number" "$pidfile"; exit 1; }
    echo ":$(cat "$number")" > "$wine_display_file"
    rm -f "$number"
}

case "$1" in
start)
    if ! reason=$(wine_skip_reason); then
        echo "$kSkipMarker $reason"
        exit 0
    fi
    if [ -z "$wine_caller_display" ]; then
        # A server this prefix's fixture started and that still runs is kept (a test may start
        # the fixture once more); any other display is not looked at.
        own_xvfb && [ -s "$wine_display_file" ] || start_xvfb
        DISPLAY=$(cat "$wine_display_file")
        export DISPLAY
    fi
    # A prefix whose first-time set-up was interrupted looks usable but is not
    # (its COM registrations are missing, so picture decoding fails), and one made
    # by another way (the 32-bit build's prefix is 32-bit under win32, 64-bit under
    # wow64) does not suit this one: only a prefix marked as complete by this way is kept.
    if [ -d "$WINEPREFIX" ] && [ "$(cat "$WINEPREFIX/.larkspan-ready" 2>/dev/null)" != "$wine_way" ]; then
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
        echo "$wine_way" > "$WINEPREFIX/.larkspan-ready"
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
    echo "wine prefix $WINEPREFIX ($wine_way) ready on display $DISPLAY"
    ;;
stop)
    if wine_skip_reason >/dev/null; then
        wineserver_cmd -k >/dev/null 2>&1 || true
        wineserver_cmd -w >/dev/null 2>&1 || true
    fi
    if own_xvfb; then
        kill "$pid" 2>/dev/null || true
        i=0; while [ $i -lt 50 ] && kill -0 "$pid" 2>/dev/null; do sleep 0.1; i=$((i + 1)); done
    fi
    rm -f "$pidfile" "$wine_display_file"
    echo "wine server stopped"
    ;;
display) echo "${DISPLAY:-}" ;;
*) echo "usage: $0 start|stop|display" >&2; exit 2 ;;
esac
