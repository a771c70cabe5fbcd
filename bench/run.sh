#!/bin/sh
# Builds the benchmark programs, archives and setups (64-bit build, run under
# Wine) and prints every figure: extraction against plain zlib, the small-file
# archives, the setup driven through its dialogs, and the moments after
# Install of a setup whose payload is only its program item.
#
#   bench/run.sh [--reps N] [--windows managed|unmanaged]
#
# --windows overrides whether Wine hands the prefix's top-level windows to a
# window manager (the test fixture makes them unmanaged on a display without
# one, where a closing window would otherwise wait two seconds for it).
#
# Environment: LARKSPAN_BENCH_BUILD (build folder, default build/bench),
# LARKSPAN_BENCH_WORK (scratch folder for extracted files, default
# <build>/bench/work; it needs about 600 MiB).
set -e
cd "$(dirname "$0")/.."
root=$PWD
build="${LARKSPAN_BENCH_BUILD:-$root/build/bench}"
# Wine takes only an absolute prefix, and the prefix lives in the build folder.
case "$build" in /*) ;; *) build="$root/$build" ;; esac
reps=5
windows=""
while [ $# -gt 0 ]; do
    case "$1" in
    --reps) reps=$2; shift 2 ;;
    --windows) windows=$2; shift 2 ;;
    *) echo "usage: bench/run.sh [--reps N] [--windows managed|unmanaged]" >&2; exit 2 ;;
    esac
done
case "$windows" in
""|managed|unmanaged) ;;
*) echo "bench/run.sh: --windows takes managed or unmanaged" >&2; exit 2 ;;
esac

if [ ! -x build/host/bin/larkspan-pack ]; then
    cmake -S tools -B build/host >/dev/null
    cmake --build build/host -j2 >/dev/null
fi
if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S . -B "$build" --toolchain cmake/toolchain-x86_64.cmake \
        -DLARKSPAN_HOST_TOOLS_DIR="$root/build/host" -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
cmake --build "$build" --target bench -j2 >/dev/null

. "$build/bench/bench-paths.sh"
work="${LARKSPAN_BENCH_WORK:-$build/bench/work}"
mkdir -p "$work"

export LARKSPAN_WINEPREFIX="$build/wineprefix"
cmake/wine-fixture.sh start >/dev/null
trap 'cmake/wine-fixture.sh stop >/dev/null 2>&1 || true' EXIT
x11key='HKCU\Software\Wine\X11 Driver'
case "$windows" in
managed) cmake/wine-run.sh reg add "$x11key" /v Managed /d Y /f >/dev/null ;;
unmanaged) cmake/wine-run.sh reg add "$x11key" /v Managed /d N /f >/dev/null ;;
esac

echo "== Machine"
echo "date:  $(date -u '+%Y-%m-%d %H:%M UTC')"
echo "cpu:   $(grep -m1 'model name' /proc/cpuinfo | sed 's/.*: //'), nproc $(nproc)"
echo "wine:  $(/usr/lib/wine/wine64 --version)"
echo "build: $(x86_64-w64-mingw32-g++-posix -dumpversion 2>/dev/null || echo '?') (x86_64-w64-mingw32, Release)"
echo "load:  $(cut -d' ' -f1-3 /proc/loadavg) (1, 5, 15 min) at the start"
echo

echo "== Extraction (extract_bench)"
cmake/wine-run.sh "$extract_bench" "Z:$large_archive" "Z:$small1000_archive" "Z:$small10000_archive" \
    "Z:$work" --reps "$reps" --small-reps "$reps"
echo

if [ -n "$setup_bench" ]; then
    echo "== Setup (setup_bench, driven through its dialogs)"
    cmake/wine-run.sh "$setup_bench" "Z:$bench_setup" "Z:$setup_payload" "Z:$work/setup-destination" \
        "Z:$archive_tool" --reps "$reps"
    echo
    echo "== After Install (setup_bench --timeline, a setup whose payload is its program item alone)"
    cmake/wine-run.sh "$setup_bench" --timeline "Z:$program_setup" "Z:$program_payload" \
        "Z:$work/program-destination" --reps "$reps"
else
    echo "== Setup: not built here (the setup program or the end-to-end driver is missing)"
fi
echo
echo "load:  $(cut -d' ' -f1-3 /proc/loadavg) (1, 5, 15 min) at the end"
