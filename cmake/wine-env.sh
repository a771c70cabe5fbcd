# Sourced by wine-run.sh and wine-fixture.sh: the Wine that matches the build.
#   LARKSPAN_WINEARCH=win64 (default)  the host's 64-bit Wine, for the x86_64 build
#   LARKSPAN_WINEARCH=win32            the 32-bit Wine inside the i386 root of scripts/wine32:
#                                      the i686 build in a 32-bit prefix, as on 32-bit Windows
#   LARKSPAN_WINEARCH=wow64            the i686 build in a 64-bit prefix, as on 64-bit Windows:
#                                      the 64-bit Wine of scripts/wine32 --wow64, which runs
#                                      32-bit programs inside 64-bit processes
#   LARKSPAN_WINEARCH=i686             the i686 build's own way on this machine: win32 where that
#                                      runs, wow64 where only that runs (scripts/wine32 ways)
#   LARKSPAN_WINEARCH=i686-wow64       the i686 build's second way: wow64 where the first was
#                                      win32; where the first is wow64 already, nothing (skipped)
# Sets WINEPREFIX, WINEARCH, WINEDEBUG, WINEDLLOVERRIDES, wine_way (win64, win32 or wow64) and,
# when the caller set none, DISPLAY: the X server that the fixture started for this prefix. Defines
#   wine_skip_reason   prints why this Wine cannot run here and returns 1, or returns 0
#   wine_cmd ARGS...   runs ARGS with this architecture's Wine loader
#   wine_exec ARGS...  the same in place of the calling shell
#   wineserver_cmd ARGS...
# Scripts that want their test reported as skipped print kSkipMarker followed by
# the reason: the CTest tests carry it as their skip expression.
: "${LARKSPAN_WINEPREFIX:?LARKSPAN_WINEPREFIX must name the build's Wine prefix}"
wine_root=$(cd "$(dirname "$0")/.." && pwd)
kSkipMarker="larkspan-skip:"
export WINEPREFIX="$LARKSPAN_WINEPREFIX"
export WINEDEBUG="${WINEDEBUG:--all}"
# Without Gecko and Mono; and without winemenubuilder, which turns each Start-menu shortcut a test
# program creates into files under $HOME, shared by every prefix (and tree) of the machine, and
# lingers reading the program's icon.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=;winemenubuilder.exe=d}"
# The fixture's X server: the display it started for this prefix, written beside it.
wine_display_file="$WINEPREFIX.display"
wine_caller_display="${DISPLAY:-}"
if [ -z "$wine_caller_display" ] && [ -s "$wine_display_file" ]; then
    DISPLAY=$(cat "$wine_display_file")
    export DISPLAY
fi

wine_skip=""
case "${LARKSPAN_WINEARCH:-win64}" in
win64 | win32 | wow64) wine_way=${LARKSPAN_WINEARCH:-win64} ;;
i686)
    if "$wine_root/scripts/wine32" way win32 >/dev/null; then
        wine_way=win32
    elif "$wine_root/scripts/wine32" way wow64 >/dev/null; then
        wine_way=wow64
    else
        wine_way=win32
        # Each reason on its own (a failing substitution in an assignment ends a set -e caller).
        why32=$("$wine_root/scripts/wine32" way win32) || true
        why64=$("$wine_root/scripts/wine32" way wow64) || true
        wine_skip="the i686 build's tests cannot run: $why32; $why64"
    fi
    ;;
i686-wow64)
    wine_way=wow64
    if ! why=$("$wine_root/scripts/wine32" way win32); then
        wine_skip="the i686 build's tests run in the 64-bit prefix of the WoW64 mode already ($why)"
    fi
    ;;
*) echo "LARKSPAN_WINEARCH must be win64, win32, wow64, i686 or i686-wow64, not $LARKSPAN_WINEARCH" >&2; exit 2 ;;
esac

wine_skip_reason() {
    if [ -n "$wine_skip" ]; then
        echo "$wine_skip"
        return 1
    fi
    [ "$wine_way" = win64 ] && return 0
    why=$("$wine_root/scripts/wine32" way "$wine_way") && return 0
    echo "the 32-bit build's tests cannot run in the $wine_way way: $why"
    return 1
}
case "$wine_way" in
win64)
    export WINEARCH=win64
    wine_cmd() { /usr/lib/wine/wine64 "$@"; }
    wine_exec() { exec /usr/lib/wine/wine64 "$@"; }
    wineserver_cmd() { /usr/lib/wine/wineserver "$@"; }
    ;;
win32)
    export WINEARCH=win32
    wine_cmd() { "$wine_root/scripts/wine32" exec larkspan-wine "$@"; }
    wine_exec() { exec "$wine_root/scripts/wine32" exec larkspan-wine "$@"; }
    wineserver_cmd() { "$wine_root/scripts/wine32" exec larkspan-wineserver "$@"; }
    ;;
wow64)
    export WINEARCH=win64
    wine_cmd() { "$wine_root/scripts/wine32" --wow64 exec larkspan-wine "$@"; }
    wine_exec() { exec "$wine_root/scripts/wine32" --wow64 exec larkspan-wine "$@"; }
    wineserver_cmd() { "$wine_root/scripts/wine32" --wow64 exec larkspan-wineserver "$@"; }
    ;;
esac
