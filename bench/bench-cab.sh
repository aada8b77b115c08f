#!/usr/bin/env bash
# Times tovrin-unpacker on MSZIP cabinets against 7zz x and bsdtar -xf,
# checking every extracted byte of every run, and reports peak memory.
#
#   bench/bench-cab.sh [runs]        (default 5; one warm-up round first)
#
# Environment: TOVRIN_BENCH_DIR (work folder, default /tmp/tovrin-bench),
# TOVRIN_BUILD_DIR (default <repo>/build-release).
#
# Inputs, made once in $work/cab with gcab -z and kept while their recipe
# matches: big.cab, the shared 64 MiB "data" of make-input.sh; tree.cab, the
# 5,000-file tree of bench-zip.sh (0-12 KiB files in 50 folders).
# Ratio = the tool's median time / ours (above 1: we are faster), for wall
# time and for CPU time (user + system; steadier on a shared machine).
# Target: at least 1.0 against both peers; our peak memory under 16 MiB.
set -euo pipefail

runs="${1:-5}"
[[ "$runs" =~ ^[1-9][0-9]*$ ]] || { echo "usage: $0 [runs]" >&2; exit 2; }
here="$(cd "$(dirname "$0")" && pwd)"
repo="$(cd "$here/.." && pwd)"
build="${TOVRIN_BUILD_DIR:-$repo/build-release}"
work="${TOVRIN_BENCH_DIR:-/tmp/tovrin-bench}"
cabwork="$work/cab"
mkdir -p "$cabwork"

for tool in cmake python3 gcab bsdtar 7zz sha256sum /usr/bin/time; do
    command -v "$tool" > /dev/null || { echo "bench-cab: $tool is needed" >&2; exit 1; }
done
if [[ ! -f "$build/CMakeCache.txt" ]]; then
    cmake -S "$repo" -B "$build" -DCMAKE_BUILD_TYPE=Release -DTOVRIN_TESTS=OFF > /dev/null
fi
cmake --build "$build" -j2 --target tovrin-unpacker > /dev/null
export PROGRAM="$build/tovrin-unpacker"

tree_digest() { (cd "$1" && find . -type f -print0 | LC_ALL=C sort -z | xargs -0 sha256sum | sha256sum | cut -d' ' -f1); }

recipe="cab-v1"
if [[ "$(cat "$cabwork/recipe" 2> /dev/null)" != "$recipe" ]]; then
    rm -rf "$cabwork/tree" "$cabwork/big" "$cabwork"/*.cab
    python3 - "$cabwork/tree" << 'PY'
import hashlib, os, sys
root = sys.argv[1]
words = b"alpha beta gamma delta header member folder window stream block archive ".split()
for i in range(5000):
    folder = os.path.join(root, "d%02d" % (i % 50))
    os.makedirs(folder, exist_ok=True)
    seed = hashlib.shake_256(b"tar-bench-%d" % i).digest(16 * 1024)
    size = int.from_bytes(seed[:2], "little") % 12288
    if i % 3 == 0:
        body = b" ".join(words[b % len(words)] for b in seed[2:])[:size]
    else:
        body = (bytes(range(256)) * 64)[: size // 2] + seed[2 : 2 + size - size // 2]
    with open(os.path.join(folder, "f%04d.dat" % i), "wb") as f:
        f.write(body)
PY
    (cd "$cabwork/tree" && find . -type f | sed 's|^\./||' | LC_ALL=C sort | xargs gcab -c -z ../tree.cab)
    tree_digest "$cabwork/tree" > "$cabwork/tree.digest"
    "$here/make-input.sh" "$work" > /dev/null
    mkdir -p "$cabwork/big"
    cp "$work/data" "$cabwork/big/data"
    (cd "$cabwork/big" && gcab -c -z ../big.cab data)
    tree_digest "$cabwork/big" > "$cabwork/big.digest"
    echo "$recipe" > "$cabwork/recipe"
fi

export XDG_CONFIG_HOME="$cabwork/config"
unset TOVRIN_ROOT
rm -rf "$XDG_CONFIG_HOME"
mkdir -p "$XDG_CONFIG_HOME"
OUT="$cabwork/out"
export OUT

median() { python3 -c 'import statistics, sys; print(statistics.median(float(x) for x in sys.argv[1:]))' "$@"; }

run_once() {  # command expected-digest; prints wall seconds, CPU seconds and peak KiB
    rm -rf "$OUT"
    mkdir -p "$OUT"
    local start end
    start=$(date +%s%N)
    /usr/bin/time -f "%U %S %M" -o "$cabwork/rss" bash -c "exec $1" > /dev/null 2> "$cabwork/stderr" ||
        { echo "failed: $1: $(head -c 300 "$cabwork/stderr")" >&2; return 1; }
    end=$(date +%s%N)
    if [[ "$(tree_digest "$OUT")" != "$2" ]]; then
        echo "wrong output: $1" >&2
        return 1
    fi
    read -r user system peak < <(tail -n 1 "$cabwork/rss")
    echo "$(python3 -c "print(($end - $start) / 1e9, $user + $system)") $peak"
}

printf '%-10s %-8s %10s %8s %10s %8s %12s\n' cabinet tool "median s" ratio "CPU s" ratio "peak RSS"
status=0
for archive in big.cab tree.cab; do
    export IN="$cabwork/$archive"
    digest="$(cat "$cabwork/${archive%.cab}.digest")"
    labels=(tovrin 7zz bsdtar)
    commands=('"$PROGRAM" "#F($IN)#P($OUT)"' '7zz x -y -o"$OUT" "$IN"' 'bsdtar -xf "$IN" -C "$OUT"')
    declare -a times=() cpus=() peaks=()
    for i in "${!labels[@]}"; do times[i]=""; cpus[i]=""; peaks[i]=0; done
    for ((round = 0; round <= runs; round++)); do
        for i in "${!labels[@]}"; do
            result="$(run_once "${commands[i]}" "$digest")" || { status=1; continue; }
            read -r wall cpu peak <<< "$result"
            if ((round > 0)); then
                times[i]+=" $wall"
                cpus[i]+=" $cpu"
            fi
            ((peak > peaks[i])) && peaks[i]=$peak
        done
    done
    # shellcheck disable=SC2086
    ours="$(median ${times[0]})"
    # shellcheck disable=SC2086
    ours_cpu="$(median ${cpus[0]})"
    for i in "${!labels[@]}"; do
        [[ -n "${times[i]}" ]] || continue
        # shellcheck disable=SC2086
        t="$(median ${times[i]})"
        # shellcheck disable=SC2086
        c="$(median ${cpus[i]})"
        printf '%-10s %-8s %10.3f %8s %10.3f %8s %8.1f MiB\n' "$archive" "${labels[i]}" "$t" \
            "$(python3 -c "print(f'{$t / $ours:.2f}')")" "$c" "$(python3 -c "print(f'{$c / max($ours_cpu, 0.001):.2f}')")" \
            "$(python3 -c "print(${peaks[i]} / 1024)")"
    done
done
rm -rf "$OUT"
exit $status
