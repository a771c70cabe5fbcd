# Sourced by wine-run.sh and wine-fixture.sh: the Wine that matches the build.
#   LARKSPAN_WINEARCH=win64 (default)  the host's 64-bit Wine, for the x86_64 build
#   LARKSPAN_WINEARCH=win32            the 32-bit Wine inside the i386 root of
#                                      scripts/wine32, for the i686 build (the product)
#   LARKSPAN_WINEARCH=wow64            the i686 build in a 64-bit prefix, as on 64-bit
#                                      Windows: the 64-bit Wine with its 32-bit half,
#                                      inside the amd64 root of scripts/wine32 --wow64
# Sets WINEPREFIX, WINEARCH, WINEDEBUG, WINEDLLOVERRIDES and DISPLAY, and defines
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
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
if [ -z "${DISPLAY:-}" ]; then export DISPLAY="${LARKSPAN_DISPLAY:-:97}"; fi

wine32_skip_reason() {
    reason=$("$wine_root/scripts/wine32" probe) && return 0
    echo "the 32-bit build's tests cannot run: $reason"
    return 1
}
case "${LARKSPAN_WINEARCH:-win64}" in
win64)
    export WINEARCH=win64
    wine_skip_reason() { return 0; }
    wine_cmd() { /usr/lib/wine/wine64 "$@"; }
    wine_exec() { exec /usr/lib/wine/wine64 "$@"; }
    wineserver_cmd() { /usr/lib/wine/wineserver "$@"; }
    ;;
win32)
    export WINEARCH=win32
    wine_skip_reason() { wine32_skip_reason; }
    wine_cmd() { "$wine_root/scripts/wine32" exec /usr/lib/wine/wine "$@"; }
    wine_exec() { exec "$wine_root/scripts/wine32" exec /usr/lib/wine/wine "$@"; }
    wineserver_cmd() { "$wine_root/scripts/wine32" exec /usr/lib/wine/wineserver "$@"; }
    ;;
wow64)
    export WINEARCH=win64
    wine_skip_reason() { wine32_skip_reason; }
    wine_cmd() { "$wine_root/scripts/wine32" --wow64 exec /usr/lib/wine/wine64 "$@"; }
    wine_exec() { exec "$wine_root/scripts/wine32" --wow64 exec /usr/lib/wine/wine64 "$@"; }
    wineserver_cmd() { "$wine_root/scripts/wine32" --wow64 exec /usr/lib/wine/wineserver "$@"; }
    ;;
*) echo "LARKSPAN_WINEARCH must be win64, win32 or wow64, not $LARKSPAN_WINEARCH" >&2; exit 2 ;;
esac
