#!/bin/sh
# Runs a Windows program of this build under Wine: the emulator CTest puts in
# front of every cross-built test. The prefix lives inside the build folder, so
# tests never touch a user's own Wine set-up. LARKSPAN_WINEARCH chooses the Wine
# (wine-env.sh); where the 32-bit one cannot run, the program is not started and
# the skip marker with the reason is printed instead.
. "$(dirname "$0")/wine-env.sh"
if ! reason=$(wine_skip_reason); then
    echo "$kSkipMarker $reason"
    exit 0
fi
wine_exec "$@"
