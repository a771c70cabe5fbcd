#!/bin/sh
# Checks larkspan-archive on real-world ZIP files whose local headers were given
# the payload signature 50 55 55 04: Python wheels from Debian packages (every
# extracted file must match the SHA-256 and size in the wheel's RECORD, and
# RECORD must name every extracted file), and our own packer's output (libdeflate
# and Zopfli, items stored when deflate would not shrink them, folder entries):
# the product's payload as the build packed it, compared with the files it was
# packed from, and the files of a small tree and of the first wheel, compared
# with those files. The expected listing comes from a walk of each archive's
# central directory written here (no other ZIP reader takes part).
#
#   tests/archive/check_real_zip.sh BUILD_DIR [ZIP...]
#
# BUILD_DIR is a cross build folder holding archive/larkspan-archive.exe and its
# wineprefix. Without ZIP arguments the wheels of python3-pip-whl and
# python3-setuptools-whl are fetched with apt-get download; when that is not
# possible the check is skipped (exit 77). ZIP arguments are checked against
# their listing (and RECORD, for wheels) alone. LARKSPAN_PACK names the host's
# larkspan-pack. CTest runs it as archive_real_zip.
set -eu

build=$(cd "${1:?usage: check_real_zip.sh BUILD_DIR [ZIP...]}" && pwd)
shift
root=$(cd "$(dirname "$0")/../.." && pwd)
tool="$build/archive/larkspan-archive.exe"
[ -f "$tool" ] || { echo "no $tool" >&2; exit 1; }
export LARKSPAN_WINEPREFIX="${LARKSPAN_WINEPREFIX:-$build/wineprefix}"
"$root/cmake/wine-fixture.sh" start >/dev/null 2>&1 || true
# Its input is not the list of cases that the loop below reads.
run() { "$root/cmake/wine-run.sh" "$tool" "$@" </dev/null; }

# Where this build's Wine cannot run here, wine-run.sh prints the skip marker
# and its reason instead of starting the tool: pass that on and stop.
probe=$(run list NUL 2>&1 || true)
case "$probe" in larkspan-skip:*) echo "$probe"; exit 0 ;; esac

work=$(mktemp -d /tmp/larkspan-realzip.XXXXXX)
trap 'rm -rf "$work"' EXIT

# directory IN [OUT FROM TO]: prints the archive's items as the central
# directory records them (index, size, packed size, name: what the tool's list
# must say) and, given OUT, writes the archive there with every local signature
# FROM (in hexadecimal) rewritten to TO. A single-disk archive without ZIP64,
# as every archive here is.
directory() {
    python3 - "$@" <<'PY'
import struct, sys
data = bytearray(open(sys.argv[1], 'rb').read())
end = data.rfind(b'PK\x05\x06')
assert end >= 0, 'no end record'
count, _, at = struct.unpack_from('<HII', data, end + 10)
for index in range(count):
    assert data[at:at + 4] == b'PK\x01\x02', f'central record {index}'
    flags, = struct.unpack_from('<H', data, at + 8)
    packed, size, name_length, extra_length, comment_length = struct.unpack_from('<IIHHH', data, at + 20)
    local, = struct.unpack_from('<I', data, at + 42)
    name = bytes(data[at + 46:at + 46 + name_length]).decode('utf-8' if flags & 0x800 else 'cp437')
    print(f'{index}\t{size}\t{packed}\t{name}')
    if len(sys.argv) > 2:
        before, after = bytes.fromhex(sys.argv[3]), bytes.fromhex(sys.argv[4])
        assert data[local:local + 4] == before, name
        data[local:local + 4] = after
    at += 46 + name_length + extra_length + comment_length
if len(sys.argv) > 2:
    open(sys.argv[2], 'wb').write(data)
PY
}

# The archives to check, each with the folder its extraction must equal ('-':
# none; a wheel is checked against its RECORD).
cases=$work/cases.txt
: > "$cases"
if [ $# -eq 0 ]; then
    (cd "$work" && apt-get download python3-pip-whl python3-setuptools-whl >/dev/null 2>&1) || {
        echo "larkspan-skip: cannot fetch the wheel packages"; exit 77; }
    for deb in "$work"/*.deb; do dpkg-deb -x "$deb" "$work/debs"; done
    find "$work/debs" -name '*.whl' | sort | sed 's/$/\t-/' >> "$cases"
    # The product's payload with the standard signature given back (packed at
    # the default level, libdeflate's and Zopfli's output), and the files it
    # holds.
    product="$build/resources/larkspan_setup.files/payload.zip"
    [ -f "$product" ] || { echo "no $product" >&2; exit 1; }
    directory "$product" "$work/product-payload.zip" 50555504 504b0304 >/dev/null
    mkdir -p "$work/product"
    cp "$build/app/Larkspan.exe" "$root/resources/payload/Larkspan-Read-Me.txt" \
        "$root/resources/payload/License.rtf" "$work/product/"
    printf '%s\t%s\n' "$work/product-payload.zip" "$work/product" >> "$cases"
    # A tree (random bytes that deflate cannot shrink, text, an empty file, a
    # folder entry) and the files of the first wheel, as the tool extracts them
    # (checked against RECORD below), packed in the standard form at level 11,
    # libdeflate's alone: the default would spend about a minute on these 8 MB.
    mkdir -p "$work/packed/tree/sub/deeper" "$work/packed/tree/none"
    head -c 200000 /dev/urandom > "$work/packed/tree/random.bin"
    seq 1 200000 > "$work/packed/tree/sub/numbers.txt"
    : > "$work/packed/tree/sub/deeper/empty.txt"
    first=$(head -1 "$cases" | cut -f1)
    directory "$first" "$work/first.zip" 504b0304 50555504 >/dev/null
    run extract "$work/first.zip" "$work/packed/wheel" >/dev/null
    (cd "$work/packed" && "${LARKSPAN_PACK:?}" --standard-signature --level 11 -o "$work/packer.zip" \
        --folder tree/none $(find tree wheel -type f | LC_ALL=C sort | sed 's/.*/&=&/'))
    printf '%s\t%s\n' "$work/packer.zip" "$work/packed" >> "$cases"
else
    for zip in "$@"; do printf '%s\t-\n' "$zip" >> "$cases"; done
fi

failures=0
n=0
while IFS="$(printf '\t')" read -r zip origin; do
    n=$((n + 1))
    case=$work/case$n
    mkdir -p "$case"
    name=$(basename "$zip")
    directory "$zip" "$case/payload.zip" 504b0304 50555504 > "$case/expected.txt"
    ok=1
    for how in "" "--handle"; do
        if ! run $how list "$case/payload.zip" > "$case/list.txt"; then
            echo "$name: list $how failed"; ok=0; continue
        fi
        cut -f1-3,6 "$case/list.txt" | tr -d '\r' > "$case/got.txt"
        cmp -s "$case/got.txt" "$case/expected.txt" || { echo "$name: list $how differs"; ok=0; }
    done
    if run extract "$case/payload.zip" "$case/out" >/dev/null; then :; else echo "$name: extract failed"; ok=0; fi
    # The files it was packed from, folders included.
    if [ "$origin" != "-" ]; then
        diff -r "$origin" "$case/out" >/dev/null || { echo "$name: extracted files differ from the originals"; ok=0; }
    fi
    # Wheels: every file listed in RECORD with its SHA-256 and size, and no
    # extracted file that RECORD does not list.
    case "$name" in *.whl)
        python3 - "$case/out" <<'PY' || ok=0
import base64, csv, glob, hashlib, os, sys
out = sys.argv[1]
records = glob.glob(os.path.join(out, '*.dist-info', 'RECORD'))
assert len(records) == 1, records
checked = bad = 0
listed = set()
for row in csv.reader(open(records[0], newline='')):
    path, digest, size = row[0], row[1], row[2]
    listed.add(os.path.normpath(path))
    if not digest:
        continue  # RECORD itself
    algorithm, value = digest.split('=', 1)
    data = open(os.path.join(out, path), 'rb').read()
    want = base64.urlsafe_b64decode(value + '=' * (-len(value) % 4))
    if hashlib.new(algorithm, data).digest() != want or len(data) != int(size):
        print("RECORD mismatch:", path); bad += 1
    checked += 1
for folder, _, files in os.walk(out):
    for file in files:
        path = os.path.relpath(os.path.join(folder, file), out)
        if path not in listed:
            print("not in RECORD:", path); bad += 1
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
done < "$cases"
[ $failures -eq 0 ]
