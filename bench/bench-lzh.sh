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
set -euo pipefail

runs="${1:-3}"
here="$(cd "$(dirname "$0")" && pwd)"
repo="$(cd "$here/.." && pwd)"
build="${TOVRIN_BUILD_DIR:-$repo/build-lzh-release}"
work="${TOVRIN_BENCH_DIR:-/tmp/tovrin-bench}"
make_lzh="${MAKE_LZH:-$repo/../shared/tools/make-lzh/MakeLzh.java}"
[[ -f "$make_lzh" ]] || make_lzh=/work/shared/tools/make-lzh/MakeLzh.java

"$here/make-input.sh" "$work" > /dev/null
if [[ ! -f "$build/CMakeCache.txt" ]]; then
    cmake -S "$repo" -B "$build" -DCMAKE_BUILD_TYPE=Release -DTOVRIN_TESTS=OFF > /dev/null
fi
cmake --build "$build" -j2 --target tovrin-unpacker > /dev/null
program="$build/tovrin-unpacker"

jar="$(dpkg -L libjlha-java | grep '/jlha.jar$')"
for method in lh5 lh7; do
    if [[ ! -s "$work/data-$method.lzh" ]]; then
        mkdir -p "$work/mklzh"
        javac -nowarn -cp "$jar" -d "$work/mklzh" "$make_lzh" 2> /dev/null
        java -cp "$jar:$work/mklzh" MakeLzh "$work/data-$method.lzh" "-$method-" 2 "$work" data
    fi
done

unset TOVRIN_ROOT
export XDG_CONFIG_HOME="$work/config"
median() { python3 -c 'import statistics, sys; print(statistics.median(float(x) for x in sys.argv[1:]))' "$@"; }

run_tool() {  # label command archive -> "seconds rss"
    local out="$work/out-lzh"
    local times=() peak=0
    for ((round = 0; round <= runs; ++round)); do
        rm -rf "$out"
        mkdir -p "$out"
        local start end
        start=$(date +%s.%N)
        IN="$3" OUT="$out" /usr/bin/time -f %M -o "$work/rss" bash -c "$2" > /dev/null 2>&1
        end=$(date +%s.%N)
        cmp -s "$out/data" "$work/data" || { echo "$1: output differs" >&2; exit 1; }
        ((round > 0)) && times+=("$(python3 -c "print($end - $start)")")
        local rss
        rss=$(cat "$work/rss")
        ((rss > peak)) && peak=$rss
    done
    echo "$(median "${times[@]}") $peak"
}

printf '%-10s %-16s %10s %8s %8s %10s\n' archive tool "median s" "MB/s" ratio "peak RSS"
for method in lh5 lh7; do
    archive="$work/data-$method.lzh"
    read -r ours our_rss < <(run_tool tovrin "exec '$program' \"#F(\$IN)#P(\$OUT)\"" "$archive")
    size=$(stat -c %s "$work/data")
    printf '%-10s %-16s %10.3f %8.1f %8s %8d KiB\n' "$method" tovrin-unpacker "$ours" \
        "$(python3 -c "print($size / $ours / 1e6)")" 1.00 "$our_rss"
    for peer in "lhasa x" "7zz x"; do
        case "$peer" in
            "lhasa x") command='cd "$OUT" && exec lhasa xq "$IN"' ;;
            "7zz x") command='exec 7zz x -y -o"$OUT" "$IN"' ;;
        esac
        read -r theirs their_rss < <(run_tool "$peer" "$command" "$archive")
        printf '%-10s %-16s %10.3f %8.1f %8.2f %8d KiB\n' "$method" "$peer" "$theirs" \
            "$(python3 -c "print($size / $theirs / 1e6)")" "$(python3 -c "print($theirs / $ours)")" "$their_rss"
    done
done
