#!/usr/bin/env bash
# Times tovrin-unpacker on the text encodings against peer decoders: a
# 16 MiB binary file as UU (uuencode), Base64 (uuencode -m and a MIME
# message by mpack) and yEnc (uuenview -y). Every output is checked byte for
# byte against the original.
#
#   bench/bench-text.sh [runs]        (default 7; one warm-up round comes first)
#
# Paired: every round runs ours and then each peer on the same input, so a
# burst of load on a shared machine slows all alike; ratios are of medians.
#
# Environment: TOVRIN_BENCH_DIR (work folder, default /tmp/tovrin-bench-text),
# TOVRIN_BUILD_DIR (default <repo>/build-release).
#
# ratio = the peer's median time / ours (above 1: we are faster). Targets: at
# least as fast as uudecode (UU), base64 -d on the stripped body (Base64,
# both forms), uudeview -i (every format) and python3-yenc (yEnc; the module's
# C decoder over the data lines, timed from the interpreter's start).
# Commands are kept in single quotes: IN, OUT and PROGRAM expand when they run.
# shellcheck disable=SC2016
set -euo pipefail
source "$(dirname "$0")/lib.sh"

bench_start 7 build-release /tmp/tovrin-bench-text "$@"
bench_need python3 uuencode uudecode mpack uuenview uudeview base64 cmp
bench_build

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

bench_private_config "$work/config"
bench_workspace "$work"
expected="file:$(bench_sha256 data)"

bench_table 'key 6 format' 'label 22 tool' 'time 9 median s' 'ratio 8 ratio'
bench() {  # format input peer-label peer-command ...
    local format="$1" i
    export IN="$work/$2"
    shift 2
    bench_reset "$expected"
    bench_tool tovrin-unpacker '"$PROGRAM" "#F($IN)#P($OUT)"'
    while (($# >= 2)); do
        bench_tool "$1" "$2"
        shift 2
    done
    bench_rounds
    [[ -z "${bench_state[0]}" ]] || { echo "bench-text: tovrin-unpacker failed on $IN" >&2; exit 1; }
    for i in "${!bench_labels[@]}"; do
        if [[ -n "${bench_state[i]}" ]]; then
            bench_line "$format" "${bench_labels[i]}" n/a "n/a (no or wrong output)"
        else
            bench_row "$format" "$i"
        fi
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
bench yenc data.ntx "uudeview -i" 'uudeview -i -q -p "$OUT/" data.ntx' \
    "python3-yenc" '/usr/bin/python3 -c "import sys, yenc; f = open(sys.argv[1], \"rb\"); f.readline(); yenc.decode(f, sys.argv[2] + \"/data\", bytez=16777216)" data.ntx "$OUT"'
echo "Input: 16 MiB of SHAKE-256 bytes; median of $runs runs after one warm-up; load $(cut -d' ' -f1-3 /proc/loadavg)."
