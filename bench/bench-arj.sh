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
set -euo pipefail

runs="${1:-3}"
here="$(cd "$(dirname "$0")" && pwd)"
repo="$(cd "$here/.." && pwd)"
build="${TOVRIN_BUILD_DIR:-$repo/build-arj-release}"
work="${TOVRIN_BENCH_DIR:-/tmp/tovrin-bench}"

"$here/make-input.sh" "$work" > /dev/null
if [[ ! -f "$build/CMakeCache.txt" ]]; then
    cmake -S "$repo" -B "$build" -DCMAKE_BUILD_TYPE=Release -DTOVRIN_TESTS=OFF > /dev/null
fi
cmake --build "$build" -j2 --target tovrin-unpacker > /dev/null
program="$build/tovrin-unpacker"

for method in 1 4; do
    if [[ ! -s "$work/data-m$method.arj" ]]; then
        (cd "$work" && arj a -y -m$method "data-m$method.arj" data > /dev/null)
    fi
done

unset TOVRIN_ROOT
export XDG_CONFIG_HOME="$work/config"
median() { python3 -c 'import statistics, sys; print(statistics.median(float(x) for x in sys.argv[1:]))' "$@"; }

run_tool() {  # label command archive -> "seconds rss"
    local out="$work/out-arj"
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
for method in 1 4; do
    archive="$work/data-m$method.arj"
    read -r ours our_rss < <(run_tool tovrin "exec '$program' \"#F(\$IN)#P(\$OUT)\"" "$archive")
    size=$(stat -c %s "$work/data")
    printf '%-10s %-16s %10.3f %8.1f %8s %8d KiB\n' "-m$method" tovrin-unpacker "$ours" \
        "$(python3 -c "print($size / $ours / 1e6)")" 1.00 "$our_rss"
    for peer in "arj x" "7zz x"; do
        case "$peer" in
            "arj x") command='cd "$OUT" && exec arj x -y "$IN"' ;;
            "7zz x") command='exec 7zz x -y -o"$OUT" "$IN"' ;;
        esac
        read -r theirs their_rss < <(run_tool "$peer" "$command" "$archive")
        printf '%-10s %-16s %10.3f %8.1f %8.2f %8d KiB\n' "-m$method" "$peer" "$theirs" \
            "$(python3 -c "print($size / $theirs / 1e6)")" "$(python3 -c "print($theirs / $ours)")" "$their_rss"
    done
done
