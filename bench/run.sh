#!/bin/sh
# Builds the benchmark programs, archives and setup (64-bit build, run under
# Wine) and prints every figure: extraction against plain zlib, the small-file
# archives, and the setup driven through its dialogs.
#
#   bench/run.sh [--reps N]
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
if [ "$1" = "--reps" ] && [ -n "$2" ]; then reps=$2; fi

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

echo "== Machine"
echo "date:  $(date -u '+%Y-%m-%d %H:%M UTC')"
echo "cpu:   $(grep -m1 'model name' /proc/cpuinfo | sed 's/.*: //'), nproc $(nproc)"
echo "wine:  $(/usr/lib/wine/wine64 --version)"
echo "build: $(x86_64-w64-mingw32-g++-posix -dumpversion 2>/dev/null || echo '?') (x86_64-w64-mingw32, Release)"
echo

echo "== Extraction (extract_bench)"
cmake/wine-run.sh "$extract_bench" "Z:$large_archive" "Z:$small1000_archive" "Z:$small10000_archive" \
    "Z:$work" --reps "$reps" --small-reps "$reps"
echo

if [ -n "$setup_bench" ]; then
    echo "== Setup (setup_bench, driven through its dialogs)"
    cmake/wine-run.sh "$setup_bench" "Z:$bench_setup" "Z:$setup_payload" "Z:$work/setup-destination" \
        "Z:$archive_tool" --reps "$reps"
else
    echo "== Setup: not built here (the setup program or the end-to-end driver is missing)"
fi
