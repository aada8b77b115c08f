#!/usr/bin/env bash
# Times tovrin-unpacker on LZX cabinets (21-bit window) against 7zz x and
# bsdtar -xf, checking every extracted byte of every run, and reports peak
# memory.
#
#   bench/bench-lzx.sh [runs]        (default 5; one warm-up round first)
#
# Environment: TOVRIN_BENCH_DIR (work folder, default /tmp/tovrin-bench),
# TOVRIN_BUILD_DIR (default <repo>/build-release).
#
# No packer here writes LZX, so the cabinets come from the project's test
# encoder (tests/tools/make_lzx_cab.cc, built with g++ -O2), made once in
# $work/lzx and kept while their recipe matches: big.cab, the shared 64 MiB
# "data" of make-input.sh with the call translation on; tree.cab, 5,000
# files of 0-12 KiB in 50 folders, in one folder. The encoder is greedy and
# simple, so these cabinets are larger than a real packer's; the peers read
# the same files.
# Ratio = the tool's median time / ours (above 1: we are faster). Target: at
# least 1.0 against both peers; our peak memory under 16 MiB plus the 2 MiB
# window.
set -euo pipefail

runs="${1:-5}"
[[ "$runs" =~ ^[1-9][0-9]*$ ]] || { echo "usage: $0 [runs]" >&2; exit 2; }
here="$(cd "$(dirname "$0")" && pwd)"
repo="$(cd "$here/.." && pwd)"
build="${TOVRIN_BUILD_DIR:-$repo/build-release}"
work="${TOVRIN_BENCH_DIR:-/tmp/tovrin-bench}"
lzxwork="$work/lzx"
mkdir -p "$lzxwork"

for tool in cmake g++ python3 bsdtar 7zz sha256sum /usr/bin/time; do
    command -v "$tool" > /dev/null || { echo "bench-lzx: $tool is needed" >&2; exit 1; }
done
if [[ ! -f "$build/CMakeCache.txt" ]]; then
    cmake -S "$repo" -B "$build" -DCMAKE_BUILD_TYPE=Release -DTOVRIN_TESTS=OFF > /dev/null
fi
cmake --build "$build" -j2 --target tovrin-unpacker > /dev/null
export PROGRAM="$build/tovrin-unpacker"

tree_digest() { (cd "$1" && find . -type f -print0 | LC_ALL=C sort -z | xargs -0 sha256sum | sha256sum | cut -d' ' -f1); }

recipe="lzx-v1"
if [[ "$(cat "$lzxwork/recipe" 2> /dev/null)" != "$recipe" ]]; then
    rm -rf "$lzxwork/tree" "$lzxwork/big" "$lzxwork"/*.cab
    g++ -std=c++17 -O2 -I"$repo" -o "$lzxwork/make_lzx_cab" \
        "$repo/tests/tools/lzx_encoder.cpp" "$repo/tests/tools/make_lzx_cab.cc"
    python3 - "$lzxwork/tree" << 'PY'
import hashlib, os, sys
root = sys.argv[1]
words = b"alpha beta gamma delta header member folder window stream block archive ".split()
for i in range(5000):
    folder = os.path.join(root, "d%02d" % (i % 50))
    os.makedirs(folder, exist_ok=True)
    seed = hashlib.shake_256(b"lzx-bench-%d" % i).digest(16 * 1024)
    size = int.from_bytes(seed[:2], "little") % 12288
    if i % 3 == 0:
        body = b" ".join(words[b % len(words)] for b in seed[2:])[:size]
    else:
        body = (bytes(range(256)) * 64)[: size // 2] + seed[2 : 2 + size - size // 2]
    with open(os.path.join(folder, "f%04d.dat" % i), "wb") as f:
        f.write(body)
PY
    (cd "$lzxwork/tree" && find . -type f | sed 's|^\./||' | LC_ALL=C sort |
        xargs "$lzxwork/make_lzx_cab" ../tree.cab 21 --keep-paths)
    tree_digest "$lzxwork/tree" > "$lzxwork/tree.digest"
    "$here/make-input.sh" "$work" > /dev/null
    mkdir -p "$lzxwork/big"
    cp "$work/data" "$lzxwork/big/data"
    (cd "$lzxwork/big" && "$lzxwork/make_lzx_cab" ../big.cab 21 --e8 12000000 data)
    tree_digest "$lzxwork/big" > "$lzxwork/big.digest"
    echo "$recipe" > "$lzxwork/recipe"
fi

export XDG_CONFIG_HOME="$lzxwork/config"
unset TOVRIN_ROOT
rm -rf "$XDG_CONFIG_HOME"
mkdir -p "$XDG_CONFIG_HOME"
OUT="$lzxwork/out"
export OUT

median() { python3 -c 'import statistics, sys; print(statistics.median(float(x) for x in sys.argv[1:]))' "$@"; }

run_once() {  # command expected-digest; prints seconds and peak KiB
    rm -rf "$OUT"
    mkdir -p "$OUT"
    local start end
    start=$(date +%s%N)
    /usr/bin/time -f %M -o "$lzxwork/rss" bash -c "exec $1" > /dev/null 2> "$lzxwork/stderr" ||
        { echo "failed: $1: $(head -c 300 "$lzxwork/stderr")" >&2; return 1; }
    end=$(date +%s%N)
    if [[ "$(tree_digest "$OUT")" != "$2" ]]; then
        echo "wrong output: $1" >&2
        return 1
    fi
    echo "$(python3 -c "print(($end - $start) / 1e9)") $(tail -n 1 "$lzxwork/rss")"
}

printf '%-10s %-8s %10s %8s %12s\n' cabinet tool "median s" ratio "peak RSS"
status=0
for archive in big.cab tree.cab; do
    export IN="$lzxwork/$archive"
    digest="$(cat "$lzxwork/${archive%.cab}.digest")"
    labels=(tovrin 7zz bsdtar)
    commands=('"$PROGRAM" "#F($IN)#P($OUT)"' '7zz x -y -o"$OUT" "$IN"' 'bsdtar -xf "$IN" -C "$OUT"')
    declare -a times=() peaks=()
    for i in "${!labels[@]}"; do times[i]=""; peaks[i]=0; done
    for ((round = 0; round <= runs; round++)); do
        for i in "${!labels[@]}"; do
            result="$(run_once "${commands[i]}" "$digest")" || { status=1; continue; }
            ((round > 0)) && times[i]+=" ${result% *}"
            ((${result#* } > peaks[i])) && peaks[i]=${result#* }
        done
    done
    [[ -n "${times[0]}" ]] || { echo "$archive: tovrin-unpacker failed" >&2; status=1; continue; }
    # shellcheck disable=SC2086
    ours="$(median ${times[0]})"
    for i in "${!labels[@]}"; do
        [[ -n "${times[i]}" ]] || continue
        # shellcheck disable=SC2086
        t="$(median ${times[i]})"
        printf '%-10s %-8s %10.3f %8s %8.1f MiB\n' "$archive" "${labels[i]}" "$t" \
            "$(python3 -c "print(f'{$t / $ours:.2f}')")" "$(python3 -c "print(${peaks[i]} / 1024)")"
    done
done
rm -rf "$OUT"
exit $status
