#!/usr/bin/env bash
# Every bench archive against its fastest peer, in paired rounds: our
# program, optionally an earlier build of it (BEFORE), and the peer run in
# alternation on the same input, each into a fresh output folder in tmpfs
# whose whole tree is checked against the peer's. Prints medians and
# ours/peer (below 1: we are faster) for each archive.
#
#   bench/compare-all.sh [rounds] [archive-key...]      (default 7 rounds)
#
# Environment: BEFORE (path of an earlier tovrin-unpacker to time beside
# ours), TOVRIN_BENCH_DIR (default /dev/shm/tovrin-compare: tmpfs, as the
# extraction figures are quoted), TOVRIN_BUILD_DIR (default build-release).
# Keys: tree.tar tree.tar.gz tree.tar.bz2 tree.tar.Z tree.zip tree.arj
# tree.lzh tree.cab data.gz data.bz2 data.Z data.ntx data.b64.
# shellcheck disable=SC2016
set -euo pipefail
source "$(dirname "$0")/lib.sh"

bench_start 7 build-release /dev/shm/tovrin-compare "${1:-}"
shift || true
bench_need cmake python3 tar gzip pigz bzip2 compress uncompress zip unzip arj gcab bsdtar 7zz \
    uuencode uudecode uuenview java javac sha256sum
bench_build
bench_input
cd "$work"

# The 5,000-file tree in every archive format the table names.
if [[ "$(cat tree.recipe 2> /dev/null)" != tree-v1 ]]; then
    rm -rf tree tree.*
    bench_make_tree tree tar-bench mtimes
    tar --format=gnu -C tree -cf tree.tar .
    gzip -6 -n -c tree.tar > tree.tar.gz
    bzip2 -9 -c tree.tar > tree.tar.bz2
    compress -c tree.tar > tree.tar.Z
    (cd tree && zip -q -r -X ../tree.zip .)
    (cd tree && arj a -y -r -m1 ../tree.arj > /dev/null)
    jar="$(dpkg -L libjlha-java | grep '/jlha.jar$')"
    mkdir -p mklzh
    javac -nowarn -cp "$jar" -d mklzh "$here/../../shared/tools/make-lzh/MakeLzh.java" 2> /dev/null ||
        javac -nowarn -cp "$jar" -d mklzh /work/shared/tools/make-lzh/MakeLzh.java
    (cd tree && find . -type f | sed 's|^\./||' | LC_ALL=C sort |
        xargs java -cp "$jar:$work/mklzh" MakeLzh ../tree.lzh -lh7- 2 .)
    (cd tree && find . -type f | sed 's|^\./||' | LC_ALL=C sort | xargs gcab -c -z ../tree.cab)
    echo tree-v1 > tree.recipe
fi
# 16 MiB for the text encodings.
if [[ ! -s data.ntx ]]; then
    head -c $((16 << 20)) data > text-data
    uuenview -y text-data > data.ntx
    uuencode -m text-data data > data.b64
fi

declare -A peer=(
    [tree.tar]='tar -xf "$IN" -C "$OUT"'
    [tree.tar.gz]='tar -I pigz -xf "$IN" -C "$OUT"'
    [tree.tar.bz2]='7zz x -so "$IN" 2> /dev/null | tar -xf - -C "$OUT"'
    [tree.tar.Z]='uncompress -c "$IN" | tar -xf - -C "$OUT"'
    [tree.zip]='unzip -q "$IN" -d "$OUT"'
    [tree.arj]='7zz x -y -o"$OUT" "$IN" > /dev/null'
    [tree.lzh]='bsdtar -xf "$IN" -C "$OUT"'
    [tree.cab]='bsdtar -xf "$IN" -C "$OUT"'
    [data.gz]='pigz -dc "$IN" > "$OUT/data"'
    [data.bz2]='7zz x -so "$IN" > "$OUT/data"'
    [data.Z]='uncompress -c "$IN" > "$OUT/data"'
    [data.ntx]='/usr/bin/python3 -c "import sys, yenc; f = open(sys.argv[1], \"rb\"); f.readline(); yenc.decode(f, sys.argv[2] + \"/text-data\", bytez=16777216)" "$IN" "$OUT"'
    [data.b64]='uudecode -o "$OUT/data" "$IN"'
)
keys=(tree.tar tree.tar.gz tree.tar.bz2 tree.tar.Z tree.zip tree.arj tree.lzh tree.cab
      data.gz data.bz2 data.Z data.ntx data.b64)
(($# == 0)) || keys=("$@")

bench_private_config "$work/config"
bench_workspace "$work/run"
bench_table 'key 12 archive' 'label 8 tool' 'time 10 median s'
for key in "${keys[@]}"; do
    export IN="$work/$key"
    bench_run_once "${peer[$key]}" || { echo "$key: the peer failed" >&2; continue; }
    bench_reset "tree:$(bench_tree_digest "$OUT")"
    bench_tool ours '"$PROGRAM" "#F($IN)#P($OUT)"'
    [[ -z "${BEFORE:-}" ]] || bench_tool before '"$BEFORE" "#F($IN)#P($OUT)"'
    bench_tool peer "${peer[$key]}"
    bench_rounds
    bench_rows "$key"
done
rm -rf "$OUT"
