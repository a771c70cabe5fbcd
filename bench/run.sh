#!/bin/sh
# Builds the benchmark programs, archives and setups (64-bit build, run under
# Wine) and prints every figure: extraction against plain zlib, the small-file
# archives, the setup driven through its dialogs, and the moments after
# Install of a setup whose payload is only its program item.
#
#   bench/run.sh [--reps N] [--windows managed|unmanaged]
#   bench/run.sh --download-size [--reps N] [--pack-only]
#
# --windows overrides whether Wine hands the prefix's top-level windows to a
# window manager (the test fixture makes them unmanaged on a display without
# one, where a closing window would otherwise wait two seconds for it).
#
# --download-size prints only the download-size figures instead: a corpus of
# real Windows PE files and texts from this machine's own packages (see
# MakeCorpus below) packed with each encoder of the packer (larkspan-pack-bench,
# median of 3 runs unless --reps, one run for those with Zopfli: about ten
# minutes in all), then packed by larkspan-pack as a payload is, on one thread
# and on a thread per core, each timed (wall and processor time, peak memory)
# and compared, and extracted again through the setup's reader (larkspan-archive
# under Wine). --pack-only leaves out the encoders' table, most of the time.
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
mode=all
if [ "$1" = "--download-size" ]; then mode=download; shift; fi
reps=5
[ $mode = download ] && reps=3
windows=""
encoders=yes
while [ $# -gt 0 ]; do
    case "$1" in
    --reps) reps=$2; shift 2 ;;
    --pack-only) encoders=no; shift ;;
    --windows) windows=$2; shift 2 ;;
    *) echo "usage: bench/run.sh [--download-size [--pack-only]] [--reps N] [--windows managed|unmanaged]" >&2; exit 2 ;;
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

# MakeCorpus DIR: the download-size corpus, as a payload of this kind would hold
# it: 64-bit programs and DLLs of Wine, the 32- and 64-bit MinGW runtime DLLs,
# all stripped of their debug sections as shipped files are (SOURCE_DATE_EPOCH
# keeps strip from stamping the time into the PE header), and texts: the
# machine's common licences, one of MinGW-w64's Windows headers and our own
# read-me and licence. No file of an installer program is among them.
MakeCorpus() {
    rm -rf "$1" && mkdir -p "$1/win64" "$1/mingw32" "$1/mingw64" "$1/texts"
    wine64=/usr/lib/x86_64-linux-gnu/wine/x86_64-windows
    gcc32=$(ls -d /usr/lib/gcc/i686-w64-mingw32/*-posix | sort | tail -1)
    gcc64=$(ls -d /usr/lib/gcc/x86_64-w64-mingw32/*-posix | sort | tail -1)
    for name in notepad.exe regedit.exe wordpad.exe winecfg.exe cmd.exe explorer.exe taskmgr.exe winefile.exe \
        winemine.exe winhlp32.exe cscript.exe iexplore.exe control.exe wineconsole.exe \
        comctl32.dll riched20.dll gdi32.dll msvcrt.dll; do
        SOURCE_DATE_EPOCH=0 x86_64-w64-mingw32-strip -o "$1/win64/$name" "$wine64/$name"
    done
    for file in "$gcc32/libstdc++-6.dll" "$gcc32/libgcc_s_dw2-1.dll" /usr/i686-w64-mingw32/lib/libwinpthread-1.dll \
        /usr/i686-w64-mingw32/lib/zlib1.dll; do
        SOURCE_DATE_EPOCH=0 i686-w64-mingw32-strip -o "$1/mingw32/$(basename "$file")" "$file"
    done
    for file in "$gcc64/libgcc_s_seh-1.dll" /usr/x86_64-w64-mingw32/lib/libwinpthread-1.dll \
        /usr/x86_64-w64-mingw32/lib/zlib1.dll; do
        SOURCE_DATE_EPOCH=0 x86_64-w64-mingw32-strip -o "$1/mingw64/$(basename "$file")" "$file"
    done
    find /usr/share/common-licenses -type f -exec cp {} "$1/texts/" \;
    cp /usr/share/mingw-w64/include/wingdi.h resources/payload/Larkspan-Read-Me.txt resources/payload/License.rtf \
        "$1/texts/"
}

if [ $mode = download ]; then
    cmake --build build/host --target larkspan-pack larkspan-pack-bench -j2 >/dev/null
    cmake --build "$build" --target larkspan-archive -j2 >/dev/null
    work="${LARKSPAN_BENCH_WORK:-$build/bench/work}/download"
    MakeCorpus "$work/corpus"
    status=0
    items=$(cd "$work/corpus" && find . -type f | sed 's|^\./||' | LC_ALL=C sort)
    echo "== Download size"
    echo "date:   $(date -u '+%Y-%m-%d %H:%M UTC')"
    echo "cpu:    $(grep -m1 'model name' /proc/cpuinfo | sed 's/.*: //'), nproc $(nproc), load $(cut -d' ' -f1-3 /proc/loadavg)"
    echo "from:   $(dpkg-query -W -f '${Package} ${Version}; ' libwine gcc-mingw-w64-i686-posix-runtime \
        gcc-mingw-w64-x86-64-posix-runtime mingw-w64-i686-dev mingw-w64-common libz-mingw-w64 libdeflate0 libzopfli1 zlib1g 2>/dev/null |
        sed 's/; $//')"
    echo "corpus: $(echo "$items" | wc -l) files, $(cd "$work/corpus" && cat $items | wc -c) bytes, sha256 of the files in" \
        "name order $(cd "$work/corpus" && cat $items | sha256sum | cut -c1-16)..."
    (cd "$work/corpus" && for f in $items; do printf '  %9d %s\n' "$(wc -c < "$f")" "$f"; done)
    echo
    if [ $encoders = yes ]; then
        (cd "$work/corpus" && "$root/build/host/bin/larkspan-pack-bench" --reps "$reps" $items)
        echo
    fi
    # The payload form as the build packs it, on one thread and at the default (a
    # thread per core), one after the other, each timed and showing its progress:
    # the two must be the same bytes. Then read back by the setup's own reader.
    echo "larkspan-pack, --jobs 1 and the default ($(nproc) cores); load before: $(cut -d' ' -f1-3 /proc/loadavg)"
    for jobs in 1 default; do
        option=""
        [ $jobs = 1 ] && option="--jobs 1"
        (cd "$work/corpus" && /usr/bin/time -f '%e %U %S %M' -o "$work/time.$jobs" \
            "$root/build/host/bin/larkspan-pack" $option --time 1767225600 -o "$work/corpus.$jobs.payload" \
            $(echo "$items" | sed 's/.*/&=&/'))
        awk -v jobs=$jobs '{ printf "  --jobs %-7s %8.1f s wall, %8.1f s processor, peak %4d MiB resident\n",
            jobs, $1, $2 + $3, $4 / 1024 }' "$work/time.$jobs"
    done
    awk '{ getline other < ARGV[2]; split(other, d); printf "  default / --jobs 1 wall time: %.3f\n", d[1] / $1; exit }' \
        "$work/time.1" "$work/time.default"
    same="byte-identical"
    cmp -s "$work/corpus.1.payload" "$work/corpus.default.payload" || { same="DIFFERENT"; status=1; }
    echo "  the two archives: $same"
    mv "$work/corpus.default.payload" "$work/corpus.payload"
    export LARKSPAN_WINEPREFIX="$build/wineprefix"
    cmake/wine-fixture.sh start >/dev/null
    trap 'cmake/wine-fixture.sh stop >/dev/null 2>&1 || true' EXIT
    rm -rf "$work/extracted"
    . "$build/bench/bench-paths.sh"
    cmake/wine-run.sh "$archive_tool" extract "Z:$work/corpus.payload" "Z:$work/extracted" >/dev/null
    result="all $(echo "$items" | wc -l) files identical"
    diff -r "$work/corpus" "$work/extracted" >/dev/null || { result="FILES DIFFER"; status=1; }
    echo "larkspan-pack: $(wc -c < "$work/corpus.payload") bytes; through larkspan-archive extract: $result"
    exit $status
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
