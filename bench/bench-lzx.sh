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
# encoder (bench/tools/make_lzx_cab.cpp, built with g++ -O2), made once in
# $work/lzx and kept while their recipe matches: big.cab, the shared 64 MiB
# "data" of make-input.sh with the call translation on; tree.cab, 5,000
# files of 0-12 KiB in 50 folders, in one folder. The encoder is greedy and
# simple, so these cabinets are larger than a real packer's; the peers read
# the same files.
# Ratio = the tool's median time / ours (above 1: we are faster). Target: at
# least 1.0 against both peers; our peak memory under 16 MiB plus the 2 MiB
# window.
# Commands are kept in single quotes: IN, OUT and PROGRAM expand when they run.
# shellcheck disable=SC2016
set -euo pipefail
source "$(dirname "$0")/lib.sh"

bench_start 5 build-release /tmp/tovrin-bench "$@"
lzxwork="$work/lzx"
mkdir -p "$lzxwork"
bench_need cmake g++ python3 bsdtar 7zz sha256sum /usr/bin/time
bench_build

recipe="lzx-v1"
if [[ "$(cat "$lzxwork/recipe" 2> /dev/null)" != "$recipe" ]]; then
    rm -rf "$lzxwork/tree" "$lzxwork/big" "$lzxwork"/*.cab
    g++ -std=c++17 -O2 -I"$repo" -o "$lzxwork/make_lzx_cab" "$repo/bench/tools/lzx_encoder.cpp" \
        "$repo/bench/tools/make_lzx_cab.cpp" "$repo/tests/formats/cab/cab_builder.cpp" -lz
    bench_make_tree "$lzxwork/tree" lzx-bench
    (cd "$lzxwork/tree" && find . -type f | sed 's|^\./||' | LC_ALL=C sort |
        xargs "$lzxwork/make_lzx_cab" ../tree.cab 21 --keep-paths)
    bench_tree_digest "$lzxwork/tree" > "$lzxwork/tree.digest"
    bench_input
    mkdir -p "$lzxwork/big"
    cp "$work/data" "$lzxwork/big/data"
    (cd "$lzxwork/big" && "$lzxwork/make_lzx_cab" ../big.cab 21 --e8 12000000 data)
    bench_tree_digest "$lzxwork/big" > "$lzxwork/big.digest"
    echo "$recipe" > "$lzxwork/recipe"
fi

bench_private_config "$lzxwork/config"
bench_workspace "$lzxwork"
bench_mode --rss --exec

bench_table 'key 10 cabinet' 'label 8 tool' 'time 10 median s' 'ratio 8 ratio' 'mib 8 peak RSS'
status=0
for archive in big.cab tree.cab; do
    export IN="$lzxwork/$archive"
    bench_reset "tree:$(cat "$lzxwork/${archive%.cab}.digest")"
    bench_tool tovrin '"$PROGRAM" "#F($IN)#P($OUT)"'
    bench_tool 7zz '7zz x -y -o"$OUT" "$IN"'
    bench_tool bsdtar 'bsdtar -xf "$IN" -C "$OUT"'
    bench_rounds
    if bench_any_failed; then status=1; fi
    [[ -z "${bench_state[0]}" ]] || { echo "$archive: tovrin-unpacker failed" >&2; continue; }
    bench_rows "$archive"
done
rm -rf "$OUT"
exit $status
