#!/usr/bin/env bash
# Times tovrin-unpacker on TAR archives against bsdtar and 7zz, and the plain
# one-file archive against the copy floor (cat), checking every extracted
# byte of every run.
#
#   bench/bench-tar.sh [runs]        (default 5; one warm-up round first)
#
# Environment: TOVRIN_BENCH_DIR (work folder, default /tmp/tovrin-bench),
# TOVRIN_BUILD_DIR (default <repo>/build-release).
#
# Inputs, made once in $work/tar and kept while their recipe matches:
#   tree.tar, tree.tar.gz, tree.tar.bz2: 5,000 files of 0-12 KiB (about 30 MiB)
#     in 50 folders, from a fixed seed, archived by GNU tar, compressed by
#     gzip -6 and bzip2 -9;
#   big.tar: the shared 64 MiB "data" of make-input.sh as one member.
# Ratio = the tool's median time / ours (above 1: we are faster). Targets: at
# least 1.0 against bsdtar -xf and 7zz x on every archive; for big.tar our
# time within 1.3 x of `cat big.tar > file`.
set -euo pipefail

runs="${1:-5}"
[[ "$runs" =~ ^[1-9][0-9]*$ ]] || { echo "usage: $0 [runs]" >&2; exit 2; }
here="$(cd "$(dirname "$0")" && pwd)"
repo="$(cd "$here/.." && pwd)"
build="${TOVRIN_BUILD_DIR:-$repo/build-release}"
work="${TOVRIN_BENCH_DIR:-/tmp/tovrin-bench}"
tarwork="$work/tar"
mkdir -p "$tarwork"

for tool in cmake python3 tar gzip bzip2 bsdtar 7zz sha256sum; do
    command -v "$tool" > /dev/null || { echo "bench-tar: $tool is needed" >&2; exit 1; }
done
if [[ ! -f "$build/CMakeCache.txt" ]]; then
    cmake -S "$repo" -B "$build" -DCMAKE_BUILD_TYPE=Release -DTOVRIN_TESTS=OFF > /dev/null
fi
cmake --build "$build" -j2 --target tovrin-unpacker > /dev/null
export PROGRAM="$build/tovrin-unpacker"

# Digest of a tree: every file's relative path and bytes, in a fixed order.
tree_digest() { (cd "$1" && find . -type f -print0 | LC_ALL=C sort -z | xargs -0 sha256sum | sha256sum | cut -d' ' -f1); }

recipe="tree-v1"
if [[ "$(cat "$tarwork/recipe" 2> /dev/null)" != "$recipe" ]]; then
    rm -rf "$tarwork/tree" "$tarwork"/tree.tar*
    python3 - "$tarwork/tree" << 'PY'
import hashlib, os, sys
root = sys.argv[1]
words = b"alpha beta gamma delta header member folder window stream block archive ".split()
for i in range(5000):
    folder = os.path.join(root, "d%02d" % (i % 50))
    os.makedirs(folder, exist_ok=True)
    seed = hashlib.shake_256(b"tar-bench-%d" % i).digest(16 * 1024)
    size = int.from_bytes(seed[:2], "little") % 12288
    if i % 3 == 0:   # text-like
        body = b" ".join(words[b % len(words)] for b in seed[2:])[:size]
    else:            # half structured, half incompressible
        body = (bytes(range(256)) * 64)[: size // 2] + seed[2 : 2 + size - size // 2]
    with open(os.path.join(folder, "f%04d.dat" % i), "wb") as f:
        f.write(body)
    os.utime(os.path.join(folder, "f%04d.dat" % i), (1500000000 + i, 1500000000 + i))
PY
    tar --format=gnu -C "$tarwork/tree" -cf "$tarwork/tree.tar" .
    gzip -6 -n -c "$tarwork/tree.tar" > "$tarwork/tree.tar.gz"
    bzip2 -9 -c "$tarwork/tree.tar" > "$tarwork/tree.tar.bz2"
    tree_digest "$tarwork/tree" > "$tarwork/tree.digest"
    echo "$recipe" > "$tarwork/recipe"
fi
if [[ ! -s "$tarwork/big.tar" ]]; then
    "$here/make-input.sh" "$work" > /dev/null
    mkdir -p "$tarwork/big"
    cp "$work/data" "$tarwork/big/data"
    tar --format=gnu -C "$tarwork/big" -cf "$tarwork/big.tar" data
    tree_digest "$tarwork/big" > "$tarwork/big.digest"
fi

export XDG_CONFIG_HOME="$tarwork/config"
unset TOVRIN_ROOT
rm -rf "$XDG_CONFIG_HOME"
mkdir -p "$XDG_CONFIG_HOME"
OUT="$tarwork/out"
export OUT

median() { python3 -c 'import statistics, sys; print(statistics.median(float(x) for x in sys.argv[1:]))' "$@"; }

# One run in a fresh folder: prints the seconds; fails when the tool failed
# or its output differs from the archived tree.
run_once() {  # command expected-digest
    rm -rf "$OUT"
    mkdir -p "$OUT"
    local start end
    start=$(date +%s%N)
    bash -c "$1" > /dev/null 2> "$tarwork/stderr" || { echo "failed: $1: $(head -c 300 "$tarwork/stderr")" >&2; return 1; }
    end=$(date +%s%N)
    if [[ -n "$2" && "$(tree_digest "$OUT")" != "$2" ]]; then
        echo "wrong output: $1" >&2
        return 1
    fi
    python3 -c "print(($end - $start) / 1e9)"
}

# With TOVRIN_BENCH_SYSCALLS=1 each tool's system calls on tree.tar are
# counted too (strace -c -f, the shell that runs the tool included): unlike
# times on a shared machine, the counts repeat from run to run.
syscalls_of() {  # command
    rm -rf "$OUT"
    mkdir -p "$OUT"
    strace -f -c -o "$tarwork/strace" bash -c "$1" > /dev/null 2>&1 || { echo failed; return; }
    awk '$NF == "total" { print $4 }' "$tarwork/strace"
}

printf '%-14s %-10s %10s %8s\n' archive tool "median s" ratio
status=0
for archive in tree.tar tree.tar.gz tree.tar.bz2 big.tar; do
    export IN="$tarwork/$archive"
    digest="$(cat "$tarwork/${archive%%.*}.digest")"
    labels=(tovrin bsdtar 7zz)
    commands=('"$PROGRAM" "#F($IN)#P($OUT)"' 'bsdtar -xf "$IN" -C "$OUT"')
    case "$archive" in
    *.tar) commands+=('7zz x -y -o"$OUT" "$IN"') ;;
    *) commands+=('7zz x -so "$IN" | 7zz x -si -ttar -y -o"$OUT"') ;;
    esac
    if [[ "$archive" == big.tar ]]; then
        labels+=(cat)
        commands+=('cat "$IN" > "$OUT/data"')
    fi
    declare -a times=()
    for i in "${!labels[@]}"; do times[i]=""; done
    for ((round = 0; round <= runs; round++)); do
        for i in "${!labels[@]}"; do
            expected="$digest"
            [[ "${labels[i]}" == cat ]] && expected=""
            t="$(run_once "${commands[i]}" "$expected")" || { status=1; continue; }
            ((round > 0)) && times[i]+=" $t"
        done
    done
    # shellcheck disable=SC2086
    ours="$(median ${times[0]})"
    for i in "${!labels[@]}"; do
        [[ -n "${times[i]}" ]] || continue
        # shellcheck disable=SC2086
        t="$(median ${times[i]})"
        printf '%-14s %-10s %10.3f %8s\n' "$archive" "${labels[i]}" "$t" "$(python3 -c "print(f'{$t / $ours:.2f}')")"
    done
    if [[ "${TOVRIN_BENCH_SYSCALLS:-}" == 1 && "$archive" == tree.tar ]] && command -v strace > /dev/null; then
        for i in "${!labels[@]}"; do
            printf '%-14s %-10s %10s system calls\n' "$archive" "${labels[i]}" "$(syscalls_of "${commands[i]}")"
        done
    fi
done
rm -rf "$OUT"
exit $status
