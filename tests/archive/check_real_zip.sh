#!/bin/sh
# Checks larkspan-archive on real-world ZIP files whose local headers were given
# the payload signature 50 55 55 04: Python wheels from Debian packages (every
# extracted file must match the SHA-256 and size in the wheel's RECORD), a zip
# written by Python's zipfile module, and our own packer's output (libdeflate
# and Zopfli, items stored when deflate would not shrink them): the product's
# payload as the build packed it, and the files of the first wheel. Every
# extracted file is also compared with what Python's own reader gives for the
# original archive.
#
#   tests/archive/check_real_zip.sh BUILD_DIR [ZIP...]
#
# BUILD_DIR is a cross build folder holding archive/larkspan-archive.exe and its
# wineprefix. Without ZIP arguments the wheels of python3-pip-whl and
# python3-setuptools-whl are fetched with apt-get download; when that is not
# possible the check is skipped (exit 77). LARKSPAN_PACK names the host's
# larkspan-pack. CTest runs it as archive_real_zip.
set -eu

build=$(cd "${1:?usage: check_real_zip.sh BUILD_DIR [ZIP...]}" && pwd)
shift
root=$(cd "$(dirname "$0")/../.." && pwd)
tool="$build/archive/larkspan-archive.exe"
[ -f "$tool" ] || { echo "no $tool" >&2; exit 1; }
export LARKSPAN_WINEPREFIX="${LARKSPAN_WINEPREFIX:-$build/wineprefix}"
"$root/cmake/wine-fixture.sh" start >/dev/null 2>&1 || true
run() { "$root/cmake/wine-run.sh" "$tool" "$@"; }

work=$(mktemp -d /tmp/larkspan-realzip.XXXXXX)
trap 'rm -rf "$work"' EXIT

# resign IN OUT FROM TO: every local signature FROM (in hexadecimal), found
# through the central directory, rewritten to TO.
resign() {
    python3 - "$@" <<'PY'
import sys, zipfile
data = bytearray(open(sys.argv[1], 'rb').read())
before, after = bytes.fromhex(sys.argv[3]), bytes.fromhex(sys.argv[4])
for info in zipfile.ZipFile(sys.argv[1]).infolist():
    at = info.header_offset
    assert data[at:at + 4] == before, info.filename
    data[at:at + 4] = after
open(sys.argv[2], 'wb').write(data)
PY
}

if [ $# -eq 0 ]; then
    (cd "$work" && apt-get download python3-pip-whl python3-setuptools-whl >/dev/null 2>&1) || {
        echo "larkspan-skip: cannot fetch the wheel packages"; exit 77; }
    for deb in "$work"/*.deb; do dpkg-deb -x "$deb" "$work/debs"; done
    set -- $(find "$work/debs" -name '*.whl' | sort)
    # A zip written by Python's zipfile module, with a folder entry.
    mkdir -p "$work/tree/sub/deeper"
    head -c 200000 /dev/urandom > "$work/tree/random.bin"
    seq 1 200000 > "$work/tree/sub/numbers.txt"
    : > "$work/tree/sub/deeper/empty.txt"
    (cd "$work/tree" && python3 -m zipfile -c "$work/pyzip.zip" random.bin sub)
    set -- "$@" "$work/pyzip.zip"
    # The product's payload with the standard signature given back (packed at
    # the default level, libdeflate's and Zopfli's output), and the files of the
    # tree and of the first wheel packed in the standard form at level 11,
    # libdeflate's alone: the default would spend about a minute on these 8 MB.
    product="$build/resources/larkspan_setup.files/payload.zip"
    [ -f "$product" ] || { echo "no $product" >&2; exit 1; }
    resign "$product" "$work/product-payload.zip" 50555504 504b0304
    python3 -m zipfile -e "$1" "$work/wheel"
    (cd "$work" && "${LARKSPAN_PACK:?}" --standard-signature --level 11 -o "$work/packer.zip" \
        $(find tree wheel -type f | LC_ALL=C sort | sed 's/.*/&=&/'))
    set -- "$@" "$work/product-payload.zip" "$work/packer.zip"
fi

failures=0
n=0
for zip in "$@"; do
    n=$((n + 1))
    case=$work/case$n
    mkdir -p "$case"
    name=$(basename "$zip")
    resign "$zip" "$case/payload.zip" 504b0304 50555504
    # What the listing must say, from Python's reader of the original.
    python3 - "$zip" > "$case/expected.txt" <<'PY'
import sys, zipfile
for i, info in enumerate(zipfile.ZipFile(sys.argv[1]).infolist()):
    print(f"{i}\t{info.file_size}\t{info.compress_size}\t{info.filename}")
PY
    ok=1
    for how in "" "--handle"; do
        if ! run $how list "$case/payload.zip" > "$case/list.txt"; then
            echo "$name: list $how failed"; ok=0; continue
        fi
        cut -f1-3,6 "$case/list.txt" | tr -d '\r' > "$case/got.txt"
        cmp -s "$case/got.txt" "$case/expected.txt" || { echo "$name: list $how differs"; ok=0; }
    done
    if run extract "$case/payload.zip" "$case/out"; then :; else echo "$name: extract failed"; ok=0; fi
    # Every file as Python reads it from the original archive.
    python3 - "$zip" "$case/out" <<'PY' || ok=0
import os, sys, zipfile
z = zipfile.ZipFile(sys.argv[1])
bad = 0
for info in z.infolist():
    path = os.path.join(sys.argv[2], info.filename)
    if info.is_dir():
        if not os.path.isdir(path):
            print("missing folder", info.filename); bad += 1
        continue
    if not os.path.isfile(path) or open(path, 'rb').read() != z.read(info):
        print("differs:", info.filename); bad += 1
sys.exit(1 if bad else 0)
PY
    # Wheels: every file listed in RECORD with its SHA-256 and size.
    case "$name" in *.whl)
        python3 - "$case/out" <<'PY' || ok=0
import base64, csv, glob, hashlib, os, sys
out = sys.argv[1]
records = glob.glob(os.path.join(out, '*.dist-info', 'RECORD'))
assert len(records) == 1, records
checked = bad = 0
for row in csv.reader(open(records[0], newline='')):
    path, digest, size = row[0], row[1], row[2]
    if not digest:
        continue  # RECORD itself
    algorithm, value = digest.split('=', 1)
    data = open(os.path.join(out, path), 'rb').read()
    want = base64.urlsafe_b64decode(value + '=' * (-len(value) % 4))
    if hashlib.new(algorithm, data).digest() != want or len(data) != int(size):
        print("RECORD mismatch:", path); bad += 1
    checked += 1
print(f"RECORD: {checked} files checked, {bad} mismatches")
sys.exit(1 if bad or checked == 0 else 0)
PY
    esac
    # cat of the largest item equals the extracted file.
    largest=$(sort -t "$(printf '\t')" -k2,2n "$case/expected.txt" | tail -1)
    index=$(printf '%s' "$largest" | cut -f1)
    file=$(printf '%s' "$largest" | cut -f4)
    run --handle cat "$case/payload.zip" "$index" > "$case/cat.bin" && cmp -s "$case/cat.bin" "$case/out/$file" ||
        { echo "$name: cat $index differs"; ok=0; }
    count=$(wc -l < "$case/expected.txt")
    if [ $ok -eq 1 ]; then echo "$name: OK ($count items)"; else echo "$name: FAILED"; failures=$((failures + 1)); fi
done
[ $failures -eq 0 ]
