#!/bin/sh
# Screenshots of setup runs as a user sees them, taken on the current X display
# (the Xvfb of its own that the Wine fixture starts when there is none):
#
#   licence.png   the licence agreement dialog
#   main.png      the destination folder dialog, its animation playing
#   progress.png  the progress dialog in the middle of the copy
#   report.png    the final report
#
# usage: tests/e2e/screenshots.sh DRIVE.exe SETUP.exe BIG-SETUP.exe [OUTDIR]
#   DRIVE.exe      larkspan-drive of the same build
#   SETUP.exe      the setup for the licence, main and report pictures (the product)
#   BIG-SETUP.exe  a setup with a large item, so that the copy lasts (e2e_setup_big)
#   OUTDIR         where the PNGs go; default ./screenshots
# The product's installation stays in the prefix, in C:\larkspan-screenshots\product.
# Needs LARKSPAN_WINEPREFIX (the build's Wine prefix), ImageMagick's import and
# xdotool. Registered as the CTest test larkspan_e2e_screenshots (label
# "screenshots"), which is disabled unless configured with -DLARKSPAN_SCREENSHOTS=ON.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
drive=$1 setup=$2 big=$3 out=${4:-screenshots}
: "${LARKSPAN_WINEPREFIX:?LARKSPAN_WINEPREFIX must name the build's Wine prefix}"
mkdir -p "$out"
out=$(cd "$out" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$root/cmake/wine-fixture.sh" start >/dev/null
# The caller's display, or the Xvfb that the fixture started for this prefix.
DISPLAY=$("$root/cmake/wine-fixture.sh" display)
export DISPLAY
# Without a window manager nobody draws title bars; let Wine draw its own for
# the pictures (only in this build's prefix, and only while they are taken).
x11key='HKCU\Software\Wine\X11 Driver'
"$root/cmake/wine-run.sh" reg add "$x11key" /v Decorated /t REG_SZ /d N /f >/dev/null 2>&1 || true
trap '"$root/cmake/wine-run.sh" reg delete "$x11key" /v Decorated /f >/dev/null 2>&1 || true; rm -rf "$work"' EXIT

winpath() { case "$1" in /*) printf 'Z:%s' "$1" | tr / '\\' ;; *) printf '%s' "$1" ;; esac; }

# Takes a picture of the visible window with this title (the whole screen if
# none is found).
shoot() { # name title
    id=$(xdotool search --onlyvisible --name "^$2\$" 2>/dev/null | tail -n 1 || true)
    if [ -n "$id" ]; then
        import -display "$DISPLAY" -window "$id" "$out/$1.png"
    else
        import -display "$DISPLAY" -window root "$out/$1.png"
    fi
    echo "screenshot: $out/$1.png"
}

# Runs one installation, photographing the stages named in "$2" as the driver
# reaches them (it pauses at each stage so that the picture can be taken).
run() { # setup stages dest
    notify="$work/stages.$$.$(date +%s%N)"
    : > "$notify"
    dest="C:\\larkspan-screenshots\\$3"
    "$root/cmake/wine-run.sh" "$drive" install "$(winpath "$1")" "$dest" --pause-ms 2500 \
        --notify "$(winpath "$notify")" > "$work/drive.log" 2>&1 &
    pid=$!
    done_stages=""
    while kill -0 "$pid" 2>/dev/null; do
        for stage in $(cat "$notify"); do
            case " $done_stages " in *" $stage "*) continue ;; esac
            done_stages="$done_stages $stage"
            case " $2 " in *" $stage "*) ;; *) continue ;; esac
            sleep 0.8
            case "$stage" in
                licence) shoot licence "License agreement" ;;
                main) shoot main "Larkspan Setup" ;;
                progress) shoot progress "Larkspan Setup" ;;
                report) shoot report "Larkspan Setup" ;;
            esac
        done
        sleep 0.1
    done
    wait "$pid" || { cat "$work/drive.log" >&2; return 1; }
    cat "$work/drive.log"
}

run "$setup" "licence main report" product
run "$big" "progress" big
rm -rf "$LARKSPAN_WINEPREFIX/drive_c/larkspan-screenshots/big"
echo "installed files: $LARKSPAN_WINEPREFIX/drive_c/larkspan-screenshots/product (C:\\larkspan-screenshots\\product)"
echo "screenshots are in $out"
