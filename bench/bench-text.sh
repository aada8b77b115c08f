#!/usr/bin/env bash
# Times tovrin-unpacker on the text encodings against peer decoders: a
# 16 MiB binary file as UU (uuencode), Base64 (uuencode -m and a MIME
# message by mpack) and yEnc (uuenview -y). Every output is checked byte for
# byte against the original.
#
#   bench/bench-text.sh [runs]        (default 5; one warm-up run comes first)
#
# Environment: TOVRIN_BENCH_DIR (work folder, default /tmp/tovrin-bench-text),
# TOVRIN_BUILD_DIR (default <repo>/build-release).
#
# ratio = the peer's median time / ours (above 1: we are faster). Targets: at
# least as fast as uudecode (UU), base64 -d on the stripped body (Base64,
# both forms) and uudeview -i (every format).
set -euo pipefail

runs="${1:-5}"
[[ "$runs" =~ ^[1-9][0-9]*$ ]] || { echo "usage: $0 [runs]" >&2; exit 2; }
here="$(cd "$(dirname "$0")" && pwd)"
repo="$(cd "$here/.." && pwd)"
build="${TOVRIN_BUILD_DIR:-$repo/build-release}"
work="${TOVRIN_BENCH_DIR:-/tmp/tovrin-bench-text}"

for tool in python3 uuencode uudecode mpack uuenview uudeview base64 cmp; do
    command -v "$tool" > /dev/null || { echo "bench-text: $tool is needed" >&2; exit 1; }
done
if [[ ! -f "$build/CMakeCache.txt" ]]; then
    cmake -S "$repo" -B "$build" -DCMAKE_BUILD_TYPE=Release -DTOVRIN_TESTS=OFF > /dev/null
fi
cmake --build "$build" -j2 --target tovrin-unpacker > /dev/null
export PROGRAM="$build/tovrin-unpacker"

mkdir -p "$work"
cd "$work"
if [[ ! -s data ]]; then
    python3 -c 'import hashlib, sys; sys.stdout.buffer.write(hashlib.shake_256(b"tovrin text bench").digest(16 << 20))' > data
fi
[[ -s data.uue ]] || uuencode data data > data.uue
[[ -s data.b64 ]] || uuencode -m data data > data.b64
[[ -s data.mime ]] || mpack -s bench -o data.mime data
[[ -s data.ntx ]] || uuenview -y data > data.ntx
# The bodies alone, for base64 -d.
sed '1d;/^====$/,$d' data.b64 > data.b64-body
sed -n '/^Content-MD5/,/^-----$/p' data.mime | sed '1,2d;/^-----$/d' > data.mime-body

export XDG_CONFIG_HOME="$work/config"
unset TOVRIN_ROOT
rm -rf "$XDG_CONFIG_HOME" out
mkdir -p "$XDG_CONFIG_HOME"
export OUT="$work/out"

# One run in a fresh output folder; prints the seconds, fails on wrong bytes.
run_once() {  # command
    rm -rf "$OUT" && mkdir -p "$OUT"
    local start end
    start=$(date +%s%N)
    bash -c "$1" > /dev/null 2>&1 || { echo "bench-text: failed: $1" >&2; return 1; }
    end=$(date +%s%N)
    cmp -s "$OUT/data" data || { echo "bench-text: wrong output: $1" >&2; return 1; }
    python3 -c "print(($end - $start) / 1e9)"
}
median_of() {  # command; prints nothing when the tool fails
    local times=() i
    run_once "$1" > /dev/null 2>&1 || return 0
    for ((i = 0; i < runs; i++)); do times+=("$(run_once "$1")"); done
    python3 -c 'import statistics, sys; print(statistics.median(float(x) for x in sys.argv[1:]))' "${times[@]}"
}

printf '%-6s %-22s %9s %8s\n' format tool "median s" ratio
bench() {  # format input peer-label peer-command ...
    local format="$1" input="$2"
    shift 2
    local ours
    ours=$(median_of '"$PROGRAM" "#F('"$work/$input"')#P($OUT)"')
    [[ -n "$ours" ]] || { echo "bench-text: tovrin-unpacker failed on $input" >&2; exit 1; }
    printf '%-6s %-22s %9.3f %8s\n' "$format" tovrin-unpacker "$ours" 1.00
    while (($# >= 2)); do
        local peer
        peer=$(median_of "$2")
        if [[ -z "$peer" ]]; then
            printf '%-6s %-22s %9s %8s\n' "$format" "$1" n/a "n/a (no or wrong output)"
            shift 2
            continue
        fi
        printf '%-6s %-22s %9.3f %8.2f\n' "$format" "$1" "$peer" "$(python3 -c "print($peer / $ours)")"
        shift 2
    done
}
bench uu data.uue "uudecode" 'uudecode -o "$OUT/data" data.uue' \
    "uudeview -i" 'uudeview -i -q -p "$OUT/" data.uue'
bench b64 data.b64 "base64 -d (body)" 'base64 -d data.b64-body > "$OUT/data"' \
    "uudecode" 'uudecode -o "$OUT/data" data.b64' \
    "uudeview -i" 'uudeview -i -q -p "$OUT/" data.b64'
bench mime data.mime "base64 -d (body)" 'base64 -d data.mime-body > "$OUT/data"' \
    "munpack" 'cd "$OUT" && munpack -q '"$work"'/data.mime' \
    "uudeview -i" 'uudeview -i -q -p "$OUT/" data.mime'
bench yenc data.ntx "uudeview -i" 'uudeview -i -q -p "$OUT/" data.ntx'
echo "Input: 16 MiB of SHAKE-256 bytes; median of $runs runs after one warm-up; load $(cut -d' ' -f1-3 /proc/loadavg)."
