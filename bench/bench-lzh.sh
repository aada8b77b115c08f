#!/usr/bin/env bash
# Times tovrin-unpacker on LZH archives (-lh5- and -lh7-) of the 64 MiB bench
# input against `lhasa x` and `7zz x`, checking every output byte.
#
#   bench/bench-lzh.sh [runs]        (default 3, after one warm-up run)
#
# Environment: TOVRIN_BENCH_DIR (default /tmp/tovrin-bench), TOVRIN_BUILD_DIR
# (default <repo>/build-lzh-release), MAKE_LZH (the MakeLzh.java of
# shared/tools/make-lzh, which drives the Java LHA library of jlha-utils to
# write the archives). Ratio: the peer's median time / ours (above 1: we are
# faster). Peak RSS from /usr/bin/time.
# Commands are kept in single quotes: IN, OUT and PROGRAM expand when they run.
# shellcheck disable=SC2016
set -euo pipefail
source "$(dirname "$0")/lib.sh"

bench_start 3 build-lzh-release /tmp/tovrin-bench "$@"
make_lzh="${MAKE_LZH:-$repo/../shared/tools/make-lzh/MakeLzh.java}"
[[ -f "$make_lzh" ]] || make_lzh=/work/shared/tools/make-lzh/MakeLzh.java

bench_input
bench_build

jar="$(dpkg -L libjlha-java | grep '/jlha.jar$')"
for method in lh5 lh7; do
    if [[ ! -s "$work/data-$method.lzh" ]]; then
        mkdir -p "$work/mklzh"
        javac -nowarn -cp "$jar" -d "$work/mklzh" "$make_lzh" 2> /dev/null
        java -cp "$jar:$work/mklzh" MakeLzh "$work/data-$method.lzh" "-$method-" 2 "$work" data
    fi
done

bench_private_config "$work/config"
bench_workspace "$work" "$work/out-lzh"
bench_mode --rss --series
bench_size=$(stat -c %s "$work/data")

bench_table 'key 10 archive' 'label 16 tool' 'time 10 median s' 'mbps 8 MB/s' 'ratio 8 ratio' 'kib 8/10 peak RSS'
for method in lh5 lh7; do
    export IN="$work/data-$method.lzh"
    bench_reset "file:$(cut -d' ' -f1 "$work/data.sha256")"
    bench_tool tovrin-unpacker 'exec "$PROGRAM" "#F($IN)#P($OUT)"'
    bench_tool "lhasa x" 'cd "$OUT" && exec lhasa xq "$IN"'
    bench_tool "7zz x" 'exec 7zz x -y -o"$OUT" "$IN"'
    bench_rounds
    for i in "${!bench_labels[@]}"; do
        [[ -z "${bench_state[i]}" ]] || { echo "${bench_labels[i]}: output differs" >&2; exit 1; }
        bench_row "$method" "$i"
    done
done
