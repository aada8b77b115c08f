#!/usr/bin/env bash
# Times tovrin-unpacker on ZIP archives against unzip, 7zz and bsdtar, the
# stored one-file archive against the copy floor (cat), and the encrypted
# one against unzip -P, checking every extracted byte of every run.
#
#   bench/bench-zip.sh [runs]        (default 5; one warm-up round first)
#
# Environment: TOVRIN_BENCH_DIR (work folder, default /tmp/tovrin-bench),
# TOVRIN_BUILD_DIR (default <repo>/build-release).
#
# Inputs, made once in $work/zip and kept while their recipe matches:
#   tree.zip: 5,000 files of 0-12 KiB in 50 folders (the tree of
#     bench-tar.sh), deflated by Info-ZIP zip -6;
#   big.zip, big-stored.zip, big-encrypted.zip: the shared 64 MiB "data" of
#     make-input.sh deflated (-6), stored (-0), and deflated with traditional
#     encryption (-P secret).
# Ratio = the tool's median time / ours (above 1: we are faster). Targets: at
# least 1.0 against unzip -q, 7zz x and bsdtar -xf on tree.zip and big.zip;
# big-stored.zip within 1.3 x of `cat`; big-encrypted.zip at least 1.0
# against unzip -P.
set -euo pipefail

runs="${1:-5}"
[[ "$runs" =~ ^[1-9][0-9]*$ ]] || { echo "usage: $0 [runs]" >&2; exit 2; }
here="$(cd "$(dirname "$0")" && pwd)"
repo="$(cd "$here/.." && pwd)"
build="${TOVRIN_BUILD_DIR:-$repo/build-release}"
work="${TOVRIN_BENCH_DIR:-/tmp/tovrin-bench}"
zipwork="$work/zip"
mkdir -p "$zipwork"

for tool in cmake python3 zip unzip bsdtar 7zz sha256sum; do
    command -v "$tool" > /dev/null || { echo "bench-zip: $tool is needed" >&2; exit 1; }
done
if [[ ! -f "$build/CMakeCache.txt" ]]; then
    cmake -S "$repo" -B "$build" -DCMAKE_BUILD_TYPE=Release -DTOVRIN_TESTS=OFF > /dev/null
fi
cmake --build "$build" -j2 --target tovrin-unpacker > /dev/null
export PROGRAM="$build/tovrin-unpacker"

tree_digest() { (cd "$1" && find . -type f -print0 | LC_ALL=C sort -z | xargs -0 sha256sum | sha256sum | cut -d' ' -f1); }

recipe="zip-v1"
if [[ "$(cat "$zipwork/recipe" 2> /dev/null)" != "$recipe" ]]; then
    rm -rf "$zipwork/tree" "$zipwork/big" "$zipwork"/*.zip
    python3 - "$zipwork/tree" << 'PY'
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
    (cd "$zipwork/tree" && zip -q -r -6 ../tree.zip .)
    tree_digest "$zipwork/tree" > "$zipwork/tree.digest"
    "$here/make-input.sh" "$work" > /dev/null
    mkdir -p "$zipwork/big"
    cp "$work/data" "$zipwork/big/data"
    (cd "$zipwork/big" && zip -q -6 ../big.zip data && zip -q -0 ../big-stored.zip data &&
        zip -q -6 -P secret ../big-encrypted.zip data)
    tree_digest "$zipwork/big" > "$zipwork/big.digest"
    echo "$recipe" > "$zipwork/recipe"
fi

export XDG_CONFIG_HOME="$zipwork/config"
unset TOVRIN_ROOT
rm -rf "$XDG_CONFIG_HOME"
mkdir -p "$XDG_CONFIG_HOME"
OUT="$zipwork/out"
export OUT

median() { python3 -c 'import statistics, sys; print(statistics.median(float(x) for x in sys.argv[1:]))' "$@"; }

run_once() {  # command expected-digest
    rm -rf "$OUT"
    mkdir -p "$OUT"
    local start end
    start=$(date +%s%N)
    bash -c "$1" > /dev/null 2> "$zipwork/stderr" || { echo "failed: $1: $(head -c 300 "$zipwork/stderr")" >&2; return 1; }
    end=$(date +%s%N)
    if [[ -n "$2" && "$(tree_digest "$OUT")" != "$2" ]]; then
        echo "wrong output: $1" >&2
        return 1
    fi
    python3 -c "print(($end - $start) / 1e9)"
}

# With TOVRIN_BENCH_SYSCALLS=1 each tool's system calls on tree.zip are
# counted too (strace -c -f, the shell that runs the tool included): unlike
# times on a shared machine, the counts repeat from run to run.
syscalls_of() {  # command
    rm -rf "$OUT"
    mkdir -p "$OUT"
    strace -f -c -o "$zipwork/strace" bash -c "$1" > /dev/null 2>&1 || { echo failed; return; }
    awk '$NF == "total" { print $4 }' "$zipwork/strace"
}

printf '%-18s %-10s %10s %8s\n' archive tool "median s" ratio
status=0
for archive in tree.zip big.zip big-stored.zip big-encrypted.zip; do
    export IN="$zipwork/$archive"
    case "$archive" in tree.zip) digest="$(cat "$zipwork/tree.digest")" ;; *) digest="$(cat "$zipwork/big.digest")" ;; esac
    case "$archive" in
    big-encrypted.zip)
        labels=(tovrin unzip 7zz bsdtar)
        commands=('"$PROGRAM" "#F($IN)#P($OUT)#S(secret)"' 'unzip -q -P secret "$IN" -d "$OUT"'
            '7zz x -psecret -y -o"$OUT" "$IN"' 'bsdtar --passphrase secret -xf "$IN" -C "$OUT"') ;;
    *)
        labels=(tovrin unzip 7zz bsdtar)
        commands=('"$PROGRAM" "#F($IN)#P($OUT)"' 'unzip -q "$IN" -d "$OUT"' '7zz x -y -o"$OUT" "$IN"'
            'bsdtar -xf "$IN" -C "$OUT"') ;;
    esac
    if [[ "$archive" == big-stored.zip ]]; then
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
        printf '%-18s %-10s %10.3f %8s\n' "$archive" "${labels[i]}" "$t" "$(python3 -c "print(f'{$t / $ours:.2f}')")"
    done
    if [[ "${TOVRIN_BENCH_SYSCALLS:-}" == 1 && "$archive" == tree.zip ]] && command -v strace > /dev/null; then
        for i in "${!labels[@]}"; do
            printf '%-18s %-10s %10s system calls\n' "$archive" "${labels[i]}" "$(syscalls_of "${commands[i]}")"
        done
    fi
done
rm -rf "$OUT"
exit $status
