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
# Commands are kept in single quotes: IN, OUT and PROGRAM expand when they run.
# shellcheck disable=SC2016
set -euo pipefail
source "$(dirname "$0")/lib.sh"

bench_start 5 build-release /tmp/tovrin-bench "$@"
cabwork="$work/cab"
mkdir -p "$cabwork"
bench_need cmake python3 gcab bsdtar 7zz sha256sum /usr/bin/time
bench_build

recipe="cab-v1"
if [[ "$(cat "$cabwork/recipe" 2> /dev/null)" != "$recipe" ]]; then
    rm -rf "$cabwork/tree" "$cabwork/big" "$cabwork"/*.cab
    bench_make_tree "$cabwork/tree" tar-bench
    (cd "$cabwork/tree" && find . -type f | sed 's|^\./||' | LC_ALL=C sort | xargs gcab -c -z ../tree.cab)
    bench_tree_digest "$cabwork/tree" > "$cabwork/tree.digest"
    bench_input
    mkdir -p "$cabwork/big"
    cp "$work/data" "$cabwork/big/data"
    (cd "$cabwork/big" && gcab -c -z ../big.cab data)
    bench_tree_digest "$cabwork/big" > "$cabwork/big.digest"
    echo "$recipe" > "$cabwork/recipe"
fi

bench_private_config "$cabwork/config"
bench_workspace "$cabwork"
bench_mode --rss --exec

bench_table 'key 10 cabinet' 'label 8 tool' 'time 10 median s' 'ratio 8 ratio' 'cpu 10 CPU s' \
    'cpuratio 8 ratio' 'mib 8 peak RSS'
status=0
for archive in big.cab tree.cab; do
    export IN="$cabwork/$archive"
    bench_reset "tree:$(cat "$cabwork/${archive%.cab}.digest")"
    bench_tool tovrin '"$PROGRAM" "#F($IN)#P($OUT)"'
    bench_tool 7zz '7zz x -y -o"$OUT" "$IN"'
    bench_tool bsdtar 'bsdtar -xf "$IN" -C "$OUT"'
    bench_rounds
    if bench_any_failed; then status=1; fi
    [[ -z "${bench_state[0]}" ]] || continue
    bench_rows "$archive"
done
rm -rf "$OUT"
exit $status
