#!/bin/sh
# Runs a Windows program of this build under Wine: the emulator CTest puts in
# front of every cross-built test. The prefix lives inside the build folder, so
# tests never touch a user's own Wine set-up. LARKSPAN_WINEARCH chooses the Wine
# (wine-env.sh); where the 32-bit one cannot run, the program is not started and
# the skip marker with the reason is printed instead.
#
# The program writes into a file, not into CTest's pipe: Wine starts its desktop
# process and the COM service on demand from the first program that needs them,
# those inherit the program's standard handles and linger for seconds after it
# has ended, and CTest waits for its pipe to close. The file is printed once the
# program itself has ended.
. "$(dirname "$0")/wine-env.sh"
if ! reason=$(wine_skip_reason); then
    echo "$kSkipMarker $reason"
    exit 0
fi
output=$(mktemp "${TMPDIR:-/tmp}/larkspan-wine-run.XXXXXX") || exit 1
trap 'rm -f "$output"' EXIT
trap 'exit 143' TERM INT
wine_cmd "$@" >"$output" 2>&1
status=$?
cat "$output"
exit $status
