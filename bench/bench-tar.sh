#!/usr/bin/env bash
# Times tovrin-unpacker on TAR archives against bsdtar and 7zz, and the plain
# one-file archive against the copy floor (cat), checking every extracted
# byte of every run.
#
#   bench/bench-tar.sh [runs]        (default 5; one warm-up round first)
#
# Environment: TOVRIN_BENCH_DIR (work folder, default /tmp/tovrin-bench),
# TOVRIN_BUILD_DIR (default <repo>/build-release), TOVRIN_BENCH_SYSCALLS=1
# (also count each tool's system calls on tree.tar, with strace).
#
# Inputs, made once in $work/tar and kept while their recipe matches:
#   tree.tar, tree.tar.gz, tree.tar.bz2: 5,000 files of 0-12 KiB (about 30 MiB)
#     in 50 folders, from a fixed seed, archived by GNU tar, compressed by
#     gzip -6 and bzip2 -9;
#   big.tar: the shared 64 MiB "data" of make-input.sh as one member.
# Ratio = the tool's median time / ours (above 1: we are faster). Targets: at
# least 1.0 against bsdtar -xf and 7zz x on every archive; for big.tar our
# time within 1.3 x of `cat big.tar > file`.
# Commands are kept in single quotes: IN, OUT and PROGRAM expand when they run.
# shellcheck disable=SC2016
set -euo pipefail
source "$(dirname "$0")/lib.sh"

bench_start 5 build-release /tmp/tovrin-bench "$@"
tarwork="$work/tar"
mkdir -p "$tarwork"
bench_need cmake python3 tar gzip bzip2 bsdtar 7zz sha256sum
bench_build

recipe="tree-v1"
if [[ "$(cat "$tarwork/recipe" 2> /dev/null)" != "$recipe" ]]; then
    rm -rf "$tarwork/tree" "$tarwork"/tree.tar*
    bench_make_tree "$tarwork/tree" tar-bench mtimes
    tar --format=gnu -C "$tarwork/tree" -cf "$tarwork/tree.tar" .
    gzip -6 -n -c "$tarwork/tree.tar" > "$tarwork/tree.tar.gz"
    bzip2 -9 -c "$tarwork/tree.tar" > "$tarwork/tree.tar.bz2"
    bench_tree_digest "$tarwork/tree" > "$tarwork/tree.digest"
    echo "$recipe" > "$tarwork/recipe"
fi
if [[ ! -s "$tarwork/big.tar" ]]; then
    bench_input
    mkdir -p "$tarwork/big"
    cp "$work/data" "$tarwork/big/data"
    tar --format=gnu -C "$tarwork/big" -cf "$tarwork/big.tar" data
    bench_tree_digest "$tarwork/big" > "$tarwork/big.digest"
fi

bench_private_config "$tarwork/config"
bench_workspace "$tarwork"

bench_table 'key 14 archive' 'label 10 tool' 'time 10 median s' 'ratio 8 ratio'
status=0
for archive in tree.tar tree.tar.gz tree.tar.bz2 big.tar; do
    export IN="$tarwork/$archive"
    bench_reset "tree:$(cat "$tarwork/${archive%%.*}.digest")"
    bench_tool tovrin '"$PROGRAM" "#F($IN)#P($OUT)"'
    bench_tool bsdtar 'bsdtar -xf "$IN" -C "$OUT"'
    case "$archive" in
    *.tar) bench_tool 7zz '7zz x -y -o"$OUT" "$IN"' ;;
    *) bench_tool 7zz '7zz x -so "$IN" | 7zz x -si -ttar -y -o"$OUT"' ;;
    esac
    [[ "$archive" != big.tar ]] || bench_tool cat 'cat "$IN" > "$OUT/data"' none
    bench_rounds
    if bench_any_failed; then status=1; fi
    [[ -z "${bench_state[0]}" ]] || continue
    bench_rows "$archive"
    [[ "$archive" != tree.tar ]] || bench_syscalls "$archive"
done
rm -rf "$OUT"
exit $status
