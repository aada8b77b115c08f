#!/usr/bin/env bash
# Times tovrin-unpacker on ARJ archives (-m1 and -m4) of the 64 MiB bench
# input against `arj x` and `7zz x`, checking every output byte.
#
#   bench/bench-arj.sh [runs]        (default 3, after one warm-up run)
#
# Environment: TOVRIN_BENCH_DIR (default /tmp/tovrin-bench), TOVRIN_BUILD_DIR
# (default <repo>/build-arj-release). The archives are made once with
# Debian's arj (`arj a -m1` / `-m4`). Ratio: the peer's median time / ours
# (above 1: we are faster). Peak RSS from /usr/bin/time.
# Commands are kept in single quotes: IN, OUT and PROGRAM expand when they run.
# shellcheck disable=SC2016
set -euo pipefail
source "$(dirname "$0")/lib.sh"

bench_start 3 build-arj-release /tmp/tovrin-bench "$@"
bench_input
bench_build

for method in 1 4; do
    if [[ ! -s "$work/data-m$method.arj" ]]; then
        (cd "$work" && arj a -y -m$method "data-m$method.arj" data > /dev/null)
    fi
done

bench_private_config "$work/config"
bench_workspace "$work" "$work/out-arj"
bench_mode --rss --series
bench_size=$(stat -c %s "$work/data")

bench_table 'key 10 archive' 'label 16 tool' 'time 10 median s' 'mbps 8 MB/s' 'ratio 8 ratio' 'kib 8/10 peak RSS'
for method in 1 4; do
    export IN="$work/data-m$method.arj"
    bench_reset "file:$(cut -d' ' -f1 "$work/data.sha256")"
    bench_tool tovrin-unpacker 'exec "$PROGRAM" "#F($IN)#P($OUT)"'
    bench_tool "arj x" 'cd "$OUT" && exec arj x -y "$IN"'
    bench_tool "7zz x" 'exec 7zz x -y -o"$OUT" "$IN"'
    bench_rounds
    for i in "${!bench_labels[@]}"; do
        [[ -z "${bench_state[i]}" ]] || { echo "${bench_labels[i]}: output differs" >&2; exit 1; }
        bench_row "-m$method" "$i"
    done
done
