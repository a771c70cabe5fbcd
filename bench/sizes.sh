#!/bin/sh
# Prints where the bytes of the shipped files go, as built by scripts/build:
# the product setup and its x86_64 twin (each without its payload and
# animation: the file less RCDATA 118 and GIF 506, the part that is the setup
# program itself) and the installed program Larkspan.exe of each build, with
# their sections as they lie in the file. Sections start on 4,096-byte
# boundaries in the setups' files (so that Wine maps the payload in place), on
# 512-byte ones in Larkspan.exe.
#
#   bench/sizes.sh [FILE...]    (default: the four files of scripts/build)
set -e
cd "$(dirname "$0")/.."
tool=build/host/bin/larkspan-pestamp
if [ ! -x "$tool" ]; then
    cmake -S tools -B build/host -DCMAKE_BUILD_TYPE=Release >/dev/null
    cmake --build build/host --target larkspan-pestamp -j2 >/dev/null
fi
if [ $# -eq 0 ]; then
    set -- dist/Larkspan-Setup.exe dist/Larkspan-Setup-x64.exe build/win32/app/Larkspan.exe build/win64/app/Larkspan.exe
fi
"$tool" --sizes "$@"
