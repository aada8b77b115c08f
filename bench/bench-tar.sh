#!/usr/bin/env bash
# Times tovrin-unpacker on TAR archives against the fastest peers, and the
# plain one-file archive against the copy floor (cat), checking every
# extracted byte of every run. Ours and the peers run in alternation, round
# after round, so that load on the machine hits all of them alike.
#
#   bench/bench-tar.sh [runs [archive...]]   (default 5 runs, every archive;
#                                            one warm-up round first)
#
# Environment: TOVRIN_BENCH_DIR (work folder, default /tmp/tovrin-bench),
# TOVRIN_BUILD_DIR (default <repo>/build-release), TOVRIN_BENCH_SYSCALLS=1
# (also count each tool's system calls on tree.tar, with strace).
#
# Inputs, made once in $work/tar and kept while their recipe matches:
#   tree.tar, tree.tar.gz, tree.tar.bz2, tree.tar.Z: 5,000 files of 0-12 KiB
#     (about 30 MiB) in 50 folders, from a fixed seed, archived by GNU tar,
#     compressed by gzip -6, bzip2 -9 and compress;
#   big.tar: the shared 64 MiB "data" of make-input.sh as one member.
# Peers: GNU tar and bsdtar on the plain archives; for the compressed ones the
# fastest pipes, which decompress and write files on two cores at once:
# tar with pigz (.gz), 7zz decompressing into tar (.bz2), uncompress or
# gzip -dc into tar (.Z).
# Ratio = the tool's median time / ours (above 1: we are faster). Targets: at
# least 1.0 against every peer; for big.tar our time within 1.3 x of
# `cat big.tar > file`.
# Commands are kept in single quotes: IN, OUT and PROGRAM expand when they run.
# shellcheck disable=SC2016
set -euo pipefail
source "$(dirname "$0")/lib.sh"

bench_start 5 build-release /tmp/tovrin-bench "$@"
tarwork="$work/tar"
mkdir -p "$tarwork"
bench_need cmake python3 tar gzip bzip2 compress uncompress pigz bsdtar 7zz sha256sum
bench_build

recipe="tree-v2"
if [[ "$(cat "$tarwork/recipe" 2> /dev/null)" != "$recipe" ]]; then
    rm -rf "$tarwork/tree" "$tarwork"/tree.tar*
    bench_make_tree "$tarwork/tree" tar-bench mtimes
    tar --format=gnu -C "$tarwork/tree" -cf "$tarwork/tree.tar" .
    gzip -6 -n -c "$tarwork/tree.tar" > "$tarwork/tree.tar.gz"
    bzip2 -9 -c "$tarwork/tree.tar" > "$tarwork/tree.tar.bz2"
    compress -c "$tarwork/tree.tar" > "$tarwork/tree.tar.Z"
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
archives=("${@:2}")
[[ ${#archives[@]} -gt 0 ]] || archives=(tree.tar tree.tar.gz tree.tar.bz2 tree.tar.Z big.tar)
for archive in "${archives[@]}"; do
    export IN="$tarwork/$archive"
    bench_reset "tree:$(cat "$tarwork/${archive%%.*}.digest")"
    bench_tool tovrin '"$PROGRAM" "#F($IN)#P($OUT)"'
    case "$archive" in
    *.tar)
        bench_tool tar 'tar -xf "$IN" -C "$OUT"'
        bench_tool bsdtar 'bsdtar -xf "$IN" -C "$OUT"' ;;
    *.gz) bench_tool tar+pigz 'tar -I pigz -xf "$IN" -C "$OUT"' ;;
    *.bz2) bench_tool 7zz+tar '7zz x -so "$IN" | tar -xf - -C "$OUT"' ;;
    *.Z)
        bench_tool uncompress 'uncompress -c < "$IN" | tar -xf - -C "$OUT"'
        bench_tool gzip+tar 'gzip -dc < "$IN" | tar -xf - -C "$OUT"' ;;
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
