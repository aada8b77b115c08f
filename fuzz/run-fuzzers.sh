#!/usr/bin/env bash
# Builds the libFuzzer targets (in build-fuzz, with clang) if needed and runs
# each one for a fixed time on a scratch copy of its seed corpus, so the
# committed corpus never grows.
#
#   fuzz/run-fuzzers.sh [seconds] [target...]     (default 30 s, every target)
#
# Prints, per target, libFuzzer's final "Done N runs in S second(s)" line and
# the executions per second. Exits 1 when any target found a crash, a leak,
# a timeout or an out-of-memory input; the reproducer is kept in
# build-fuzz/crashes/<target>/ and can be replayed with
#   build-fuzz/fuzz/fuzz_<target> <file>
set -euo pipefail

seconds="${1:-30}"
[[ "$seconds" =~ ^[1-9][0-9]*$ ]] || { echo "usage: $0 [seconds] [target...]" >&2; exit 2; }
shift || true

here="$(cd "$(dirname "$0")" && pwd)"
repo="$(cd "$here/.." && pwd)"
build="${TOVRIN_FUZZ_BUILD_DIR:-$repo/build-fuzz}"

targets=("$@")
((${#targets[@]} > 0)) || mapfile -t targets < <(cd "$here" && ls fuzz_*.cpp | sed 's/^fuzz_//; s/\.cpp$//' | grep -vx harness)

if [[ ! -f "$build/CMakeCache.txt" ]]; then
    CC=clang CXX=clang++ cmake -S "$repo" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DTOVRIN_FUZZ=ON -DTOVRIN_TESTS=OFF > /dev/null
fi
cmake --build "$build" -j2 --target "${targets[@]/#/fuzz_}" > "$build/fuzz-build.log" 2>&1 || {
    tail -n 30 "$build/fuzz-build.log" >&2
    echo "run-fuzzers: build failed (full log: $build/fuzz-build.log)" >&2
    exit 1
}

failed=()
for target in "${targets[@]}"; do
    binary="$build/fuzz/fuzz_$target"
    seeds="$here/corpus/$target"
    [[ -x "$binary" ]] || { echo "run-fuzzers: no binary for $target" >&2; failed+=("$target"); continue; }
    # In memory where possible: libFuzzer writes every new input there.
    scratch="$(mktemp -d -p /dev/shm 2> /dev/null || mktemp -d)"
    mkdir -p "$scratch/corpus" "$scratch/artifacts"
    [[ -d "$seeds" ]] && cp -r "$seeds"/. "$scratch/corpus/"

    # Inputs up to 16 KiB: room for every seed, while a hostile LZW or
    # bzip2 stream of that size still expands to no more than a few
    # hundred megabytes.
    status=0
    "$binary" "$scratch/corpus" \
        -max_total_time="$seconds" -rss_limit_mb=2048 -max_len=16384 -timeout=60 \
        -artifact_prefix="$scratch/artifacts/" -print_final_stats=1 \
        > "$scratch/log" 2>&1 || status=$?

    done_line="$(grep -E '^Done [0-9]+ runs' "$scratch/log" | tail -n 1 || true)"
    rate="$(grep -E '^stat::average_exec_per_sec' "$scratch/log" | awk '{ print $2 }' || true)"
    if [[ $status -eq 0 && -n "$done_line" ]]; then
        printf '%-10s %s (%s exec/s)\n' "$target" "$done_line" "${rate:-?}"
    else
        printf '%-10s FAILED (exit status %d)\n' "$target" "$status"
        grep -E 'ERROR: |SUMMARY: |fuzz harness:|==[0-9]+==' "$scratch/log" | head -n 20 || true
        kept="$build/crashes/$target"
        mkdir -p "$kept"
        cp "$scratch/artifacts"/* "$kept/" 2> /dev/null || true
        cp "$scratch/log" "$kept/log-$(date +%Y%m%d-%H%M%S).txt"
        echo "           reproducer and log in $kept"
        failed+=("$target")
    fi
    rm -rf "$scratch"
done

if ((${#failed[@]} > 0)); then
    echo "run-fuzzers: failures in: ${failed[*]}" >&2
    exit 1
fi
