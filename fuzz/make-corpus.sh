#!/usr/bin/env bash
# Rebuilds the seed corpora in fuzz/corpus/<target>/ from real files made by
# gzip, bzip2 and compress (ncompress), plus a few hand-made edge cases.
# Every seed stays small (well under the 16 KiB the fuzzers mutate) so runs
# stay fast. The output is the same on every run: fixed sample text, fixed
# pseudo-random bytes, no stored times.
#
#   fuzz/make-corpus.sh            # rewrite the committed corpora
set -euo pipefail

here="$(cd "$(dirname "$0")" && pwd)"
corpus="$here/corpus"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

for tool in gzip bzip2 compress python3; do
    command -v "$tool" >/dev/null || { echo "make-corpus: $tool is needed" >&2; exit 1; }
done

# Sample inputs: text with repeats, structured binary and incompressible bytes.
python3 - "$work" <<'PY'
import hashlib, struct, sys
work = sys.argv[1]
words = ["alpha", "bravo", "charlie", "delta", "echo", "foxtrot", "golf", "hotel",
         "india", "juliet", "kilo", "lima", "mike", "november", "oscar", "papa"]
stream = hashlib.shake_256(b"tovrin fuzz corpus").digest(65536)
lines, i = [], 0
while sum(len(l) for l in lines) < 6000:
    count = 3 + stream[i] % 9
    lines.append(" ".join(words[stream[i + 1 + k] % 16] for k in range(count)) + "\n")
    i += 1 + count
open(f"{work}/text.txt", "w").write("".join(lines))
records = b"".join(struct.pack("<IHH8s", 0x1000 + 16 * n, n % 7, 0xFFFF - n, b"sym%05d" % n)
                   for n in range(400))
open(f"{work}/binary.bin", "wb").write(records)
open(f"{work}/random.bin", "wb").write(hashlib.shake_256(b"incompressible").digest(3000))
open(f"{work}/runs.bin", "wb").write(b"a" * 2000 + b"ab" * 500 + bytes(range(256)) * 4)
open(f"{work}/empty", "wb").close()
# Two unlike halves: once a 9-bit table is full, the second half compresses
# worse and the compressor emits clear codes.
open(f"{work}/two-phases.bin", "wb").write(b"".join(l.encode() for l in lines) * 3 + records * 2)
PY
touch -d @1000000000 "$work"/*

rm -rf "$corpus"/gzip "$corpus"/bzip2 "$corpus"/compress
mkdir -p "$corpus"/gzip "$corpus"/bzip2 "$corpus"/compress

# The first $2 bytes of file $1.
cut_file() { head -c "$2" "$1"; }

# ---- gzip -----------------------------------------------------------------
g="$corpus/gzip"
cp "$work/text.txt" "$work/readme.txt" && touch -d @1000000000 "$work/readme.txt"
gzip -9 -c "$work/readme.txt" > "$g/stored-name.gz"          # FNAME readme.txt
gzip -n -1 -c "$work/binary.bin" > "$g/no-name-fast.gz"
gzip -n -c "$work/random.bin" > "$g/stored-blocks.gz"         # incompressible: stored blocks
gzip -n -c "$work/empty" > "$g/empty-member.gz"
{ gzip -n -c "$work/runs.bin"; gzip -n -c "$work/text.txt"; } > "$g/two-members.gz"
cut_file "$g/stored-name.gz" 40 > "$g/truncated.gz"
printf '\x1f\x8b\x08\x00\x00\x00\x00\x00\x00' > "$g/nine-bytes.gz"
# Hand-made headers in front of the deflate data of a real member: hostile
# stored names, every optional field (in the RFC 1952 order, with a correct
# header CRC), a name that runs to the end of the file, the 0x9E magic.
python3 - "$g" <<'PY'
import binascii, struct, sys
g = sys.argv[1]
real = open(f"{g}/no-name-fast.gz", "rb").read()
body = real[10:]
def header(flags):
    return bytes([0x1F, 0x8B, 8, flags, 0, 0, 0, 0, 0, 3])
def named(name):
    return header(0x08) + name + b"\0" + body
open(f"{g}/name-climbs-out.gz", "wb").write(named(b"../../escape.txt"))
open(f"{g}/name-overwrites-input.gz", "wb").write(named(b"..\\in\\input.gz"))
open(f"{g}/name-absolute.gz", "wb").write(named(b"\\escape.txt"))
open(f"{g}/name-with-folders.gz", "wb").write(named(b"sub\\dir/file.txt"))
open(f"{g}/name-empty.gz", "wb").write(named(b""))
open(f"{g}/name-dot-dot.gz", "wb").write(named(b".."))
open(f"{g}/name-long.gz", "wb").write(named(b"n" * 300))
open(f"{g}/name-double-byte.gz", "wb").write(named(b"\x83\x5c\x83\x74\x83\x67.txt"))
open(f"{g}/name-unterminated.gz", "wb").write(header(0x08) + b"never-ends")
all_fields = header(0x02 | 0x04 | 0x08 | 0x10)
all_fields += struct.pack("<H", 6) + b"AB\x02\x00xy"
all_fields += b"fields.bin\0" + b"a comment\0"
all_fields += struct.pack("<H", binascii.crc32(all_fields) & 0xFFFF)
open(f"{g}/all-header-fields.gz", "wb").write(all_fields + body)
open(f"{g}/extra-length-past-end.gz", "wb").write(header(0x04 | 0x08) + b"\xff\xff" + b"short")
open(f"{g}/magic-9e.gz", "wb").write(b"\x1f\x9e" + real[2:])
PY

# ---- bzip2 ----------------------------------------------------------------
b="$corpus/bzip2"
bzip2 -9 -c "$work/text.txt" > "$b/text.bz2"
bzip2 -1 -c "$work/binary.bin" > "$b/binary-level1.bz2"
bzip2 -c "$work/random.bin" > "$b/incompressible.bz2"
bzip2 -c "$work/runs.bin" > "$b/long-runs.bz2"
bzip2 -c "$work/empty" > "$b/empty.bz2"
{ bzip2 -c "$work/runs.bin"; bzip2 -c "$work/binary.bin"; } > "$b/two-streams.bz2"
cut_file "$b/text.bz2" 200 > "$b/truncated.bz2"
python3 - "$b" <<'PY'
import sys
b = sys.argv[1]
data = bytearray(open(f"{b}/text.bz2", "rb").read())
data[len(data) // 2] ^= 0x40                  # block CRC no longer matches
open(f"{b}/damaged-block.bz2", "wb").write(data)
open(f"{b}/magic-only.bz2", "wb").write(b"BZh9")
PY

# ---- compress (.Z) --------------------------------------------------------
z="$corpus/compress"
compress -f -c "$work/text.txt" > "$z/text-16bit.Z"
compress -f -b 9 -c "$work/text.txt" > "$z/text-9bit.Z"        # the table fills
compress -f -b 9 -c "$work/two-phases.bin" > "$z/two-phases-9bit.Z"  # clear codes
compress -f -b 12 -c "$work/binary.bin" > "$z/binary-12bit.Z"
compress -f -c "$work/random.bin" > "$z/incompressible.Z"
compress -f -c "$work/runs.bin" > "$z/runs.Z"                   # codes equal to the next free code
cut_file "$z/text-16bit.Z" 100 > "$z/truncated.Z"
python3 - "$z" <<'PY'
import sys
z = sys.argv[1]
open(f"{z}/header-only.Z", "wb").write(b"\x1f\x9d\x90")
open(f"{z}/width-17.Z", "wb").write(b"\x1f\x9d\x91" + b"\x61\x00\x00")
# 'a' then 511, far above the next free code, as two 9-bit codes.
open(f"{z}/code-above-next-free.Z", "wb").write(b"\x1f\x9d\x90\x61\xfe\x03")
# The same 9-bit stream read without block mode: code 256 is an ordinary code.
stream = open(f"{z}/text-9bit.Z", "rb").read()
open(f"{z}/no-block-mode.Z", "wb").write(stream[:2] + bytes([stream[2] & 0x7F]) + stream[3:])
PY

# ---- bzip2_parallel: a mode byte (0 the file itself, 1 overwrite, 2 insert,
# 3 cut and append), a 24-bit offset into the target's built-in stream, and
# the bytes of the edit.
p="$corpus/bzip2_parallel"
rm -rf "$p"
mkdir -p "$p"
printf '\001\020\000\000\000' > "$p/overwrite-one-byte"
printf '\003\000\200\000' > "$p/cut-in-second-block"
{ printf '\000\000\000\000'; cat "$b/two-streams.bz2"; } > "$p/raw-two-streams"

for t in gzip bzip2 compress bzip2_parallel; do
    echo "corpus/$t: $(ls "$corpus/$t" | wc -l) files, $(du -sb "$corpus/$t" | cut -f1) bytes"
done
