#!/usr/bin/env bash
# Makes the benchmark input: "data", 64 MiB mixing generated text, structured
# binary and incompressible bytes, and its compressed forms data.gz (gzip,
# default level), data.bz2 (bzip2, default level) and data.Z (compress,
# default 16 bits), in the bench work folder.
#
#   bench/make-input.sh [workdir]      (default $TOVRIN_BENCH_DIR or /tmp/tovrin-bench)
#
# Everything comes from a fixed seed through SHAKE-256, so the input is the
# same byte for byte on every machine and Python version; the script prints
# its SHA-256. Files already present and matching are kept.
set -euo pipefail
source "$(dirname "$0")/lib.sh"

work="${1:-${TOVRIN_BENCH_DIR:-/tmp/tovrin-bench}}"
mkdir -p "$work"
cd "$work"

bench_need python3 gzip bzip2 compress sha256sum

if [[ ! -s data || ! -s data.sha256 ]] || ! sha256sum --status -c data.sha256; then
    rm -f data data.gz data.bz2 data.Z data.sha256
    python3 - data <<'PY'
import hashlib, struct, sys

SEGMENT = 1 << 20
SEGMENTS = 64

def stream(label, size):
    return hashlib.shake_256(b"tovrin bench " + label.encode()).digest(size)

# A vocabulary of pronounceable words; word frequencies roughly follow
# Zipf's law through a 65536-entry lookup table indexed by two random bytes.
syllables = [c + v for c in "bcdfghjklmnprstvwz" for v in "aeiou"]
seed = stream("vocabulary", 4 * 4000)
vocabulary = []
for n in range(4000):
    a, b, c, d = seed[4 * n: 4 * n + 4]
    word = "".join(syllables[x % len(syllables)] for x in (a, b, c)[: 1 + d % 3])
    vocabulary.append(word)
weights = [1.0 / (rank + 1) for rank in range(len(vocabulary))]
total = sum(weights)
zipf, acc, rank = [], 0.0, 0
for slot in range(65536):
    while rank < len(vocabulary) - 1 and (acc + weights[rank]) / total * 65536 < slot + 0.5:
        acc += weights[rank]
        rank += 1
    zipf.append(vocabulary[rank])

def text_segment(index):
    random = stream(f"text {index}", SEGMENT)
    out, size, i = [], 0, 0
    while size < SEGMENT:
        count = 4 + random[i] % 12
        i += 1
        words = [zipf[random[i + 2 * k] << 8 | random[i + 2 * k + 1]] for k in range(count)]
        i += 2 * count
        if i + 64 > len(random):
            random = stream(f"text {index} more {size}", SEGMENT)
            i = 0
        line = " ".join(words)
        line = line[0].upper() + line[1:] + (".\n" if words[-1][-1] in "ae" else ",\n")
        out.append(line)
        size += len(line)
    return "".join(out).encode()[:SEGMENT]

def binary_segment(index):
    # Something like an executable: code made of a few instruction shapes
    # with small operands, a table of rising offsets, a string table, padding.
    random = stream(f"binary {index}", SEGMENT)
    shapes = [b"\x48\x89", b"\x48\x8b", b"\xe8", b"\x0f\x84", b"\x83\xc4", b"\xff\x15", b"\x55", b"\xc3"]
    parts, size, i = [], 0, 0
    offset = 0x1000
    while size < SEGMENT:
        kind = random[i] % 8
        i += 1
        if kind < 5:                                   # code
            code = bytearray()
            for _ in range(64):
                shape = shapes[random[i] % len(shapes)]
                code += shape + bytes([random[i + 1] & 0x3F, random[i + 2] & 0x0F])
                i += 3
            part = bytes(code)
        elif kind == 5:                                # offset table
            entries = []
            for _ in range(64):
                offset += 4 + (random[i] & 0x3F)
                entries.append(struct.pack("<IHH", offset, random[i + 1] % 5, 0))
                i += 2
            part = b"".join(entries)
        elif kind == 6:                                # string table
            part = b"".join(zipf[random[i + 2 * k] << 8 | random[i + 2 * k + 1]].encode() + b"\0"
                            for k in range(32))
            i += 64
        else:                                          # alignment padding
            part = bytes(16 * (1 + random[i] % 32))
            i += 1
        if i + 512 > len(random):
            random = stream(f"binary {index} more {size}", SEGMENT)
            i = 0
        parts.append(part)
        size += len(part)
    return b"".join(parts)[:SEGMENT]

def random_segment(index):
    return stream(f"random {index}", SEGMENT)

# Per five segments: two of text, two of binary, one random.
makers = [text_segment, binary_segment, text_segment, binary_segment, random_segment]
with open(sys.argv[1], "wb") as out:
    for index in range(SEGMENTS):
        segment = makers[index % 5](index)
        assert len(segment) == SEGMENT
        out.write(segment)
PY
    sha256sum data > data.sha256
fi

touch -d @1000000000 data
[[ -s data.gz ]] || gzip -c data > data.gz
[[ -s data.bz2 ]] || bzip2 -c data > data.bz2
[[ -s data.Z ]] || compress -c data > data.Z

echo "bench input in $work:"
cat data.sha256
ls -l data data.gz data.bz2 data.Z | awk '{ printf "  %-10s %11d bytes\n", $9, $5 }'
