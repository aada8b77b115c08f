#!/usr/bin/env bash
# Times tovrin-unpacker against peer tools on the same compressed input and
# checks every output byte against the original.
#
#   bench/run-bench.sh [runs]        (default 5; one warm-up run comes first)
#
# Environment: TOVRIN_BENCH_DIR (work folder, default /tmp/tovrin-bench),
# TOVRIN_BUILD_DIR (default <repo>/build-release).
#
# For every format and tool: median wall time of the runs, throughput in
# MB/s (10^6 bytes of output per second), speed ratio (the tool's time / our
# time: above 1 means we are faster) and peak resident memory. A tool whose
# output differs from the input fails the whole run (exit status 1), as does
# a non-zero exit status of our program. Missed targets are reported, not
# failed: the numbers depend on the machine.
set -euo pipefail

runs="${1:-5}"
[[ "$runs" =~ ^[1-9][0-9]*$ ]] || { echo "usage: $0 [runs]" >&2; exit 2; }

here="$(cd "$(dirname "$0")" && pwd)"
repo="$(cd "$here/.." && pwd)"
build="${TOVRIN_BUILD_DIR:-$repo/build-release}"
work="${TOVRIN_BENCH_DIR:-/tmp/tovrin-bench}"

# ---------------------------------------------------------------------------
# Formats. One entry per format: the compressed file (made by make-input.sh
# in the work folder), the tool whose speed the target refers to (the
# fastest peer on the same library), the speed we must reach relative to it,
# and the peers. The file must extract to the one file "data" (an archive
# holding it). A peer command reads "$IN" and must leave that file at
# "$OUT/data"; it runs under bash with exec, so time and memory are the
# tool's own. A peer that cannot extract the file at all is reported as n/a.
# Adding a format is one more entry here and one more line in make-input.sh.
# ---------------------------------------------------------------------------
formats=()
declare -A format_file format_reference format_ratio format_peers

add_format() {  # name file reference-peer ratio
    formats+=("$1")
    format_file[$1]="$2"
    format_reference[$1]="$3"
    format_ratio[$1]="$4"
    format_peers[$1]=""
}
add_peer() {    # format label command
    format_peers[$1]+="$2"$'\t'"$3"$'\n'
}

add_format gz data.gz "pigz -dc" 0.95
add_peer gz "gzip -dc" 'gzip -dc "$IN" > "$OUT/data"'
add_peer gz "pigz -dc" 'pigz -dc "$IN" > "$OUT/data"'
add_peer gz "7zz x" '7zz x -y -o"$OUT" "$IN" > /dev/null'
add_peer gz "bsdtar -x" 'bsdtar -xf "$IN" -C "$OUT"'

add_format bz2 data.bz2 "bzip2 -dc" 0.95
add_peer bz2 "bzip2 -dc" 'bzip2 -dc "$IN" > "$OUT/data"'
add_peer bz2 "7zz x" '7zz x -y -o"$OUT" "$IN" > /dev/null'
add_peer bz2 "bsdtar -x" 'bsdtar -xf "$IN" -C "$OUT"'

add_format Z data.Z "uncompress -c" 1.0
add_peer Z "uncompress -c" 'uncompress -c "$IN" > "$OUT/data"'
add_peer Z "7zz x" '7zz x -y -o"$OUT" "$IN" > /dev/null'
add_peer Z "bsdtar -x" 'bsdtar -xf "$IN" -C "$OUT"'

memory_limit_kib=$((16 * 1024))

# ---------------------------------------------------------------------------

for tool in cmake python3 sha256sum /usr/bin/time; do
    command -v "$tool" >/dev/null || { echo "run-bench: $tool is needed" >&2; exit 1; }
done

if [[ ! -f "$build/CMakeCache.txt" ]]; then
    cmake -S "$repo" -B "$build" -DCMAKE_BUILD_TYPE=Release -DTOVRIN_TESTS=OFF > /dev/null
fi
cmake --build "$build" -j2 --target tovrin-unpacker > /dev/null
program="$build/tovrin-unpacker"
[[ -x "$program" ]] || { echo "run-bench: no program at $program" >&2; exit 1; }

"$here/make-input.sh" "$work"
expected="$(cut -d' ' -f1 "$work/data.sha256")"
size_bytes="$(stat -c %s "$work/data")"

# Our program keeps its settings in the registry file below XDG_CONFIG_HOME:
# a private one, so the bench neither reads nor changes the user's settings
# (fresh settings: no "Create folder", so the output lands in the folder).
export XDG_CONFIG_HOME="$work/config"
unset TOVRIN_ROOT
rm -rf "$XDG_CONFIG_HOME"
mkdir -p "$XDG_CONFIG_HOME"

ours_command='"$PROGRAM" "#F($IN)#P($OUT)"'
export PROGRAM="$program"

scratch="$work/out"
load_before="$(cut -d' ' -f1-3 /proc/loadavg)"
failed=0
missed=()
report="$(mktemp)"
trap 'rm -f "$report"' EXIT

# Runs one command once in a fresh output folder. Sets run_seconds and
# run_rss_kib; returns 1 when the tool failed or left no output, 2 when its
# output differs from the input.
run_once() {  # command
    rm -rf "$OUT"
    mkdir -p "$OUT"
    local start end status=0
    start=$(date +%s%N)
    /usr/bin/time -f %M -o "$scratch/rss" bash -c "exec $1" 2> "$scratch/stderr" || status=$?
    end=$(date +%s%N)
    run_seconds=$(python3 -c "print(($end - $start) / 1e9)")
    run_rss_kib=$(tail -n 1 "$scratch/rss")
    [[ $status -eq 0 && -f "$OUT/data" ]] || return 1
    [[ "$(sha256sum < "$OUT/data" | cut -d' ' -f1)" == "$expected" ]] || return 2
    return 0
}

median() { python3 -c 'import statistics, sys; print(statistics.median(float(x) for x in sys.argv[1:]))' "$@"; }
calc() { python3 -c "print($1)"; }

row() {  # format label seconds rss-kib ratio
    printf '%-6s %-16s %10.3f %9.1f %8s %8.1f MiB\n' "$1" "$2" "$3" "$(calc "$size_bytes / 1e6 / $3")" \
        "$5" "$(calc "$4 / 1024")" >> "$report"
}

printf '%-6s %-16s %10s %9s %8s %10s\n' format tool "median s" "MB/s" ratio "peak RSS" > "$report"
for format in "${formats[@]}"; do
    export IN="$work/${format_file[$format]}"
    export OUT="$scratch/$format"
    mkdir -p "$scratch"
    echo "== $format: ${format_file[$format]} (one warm-up and $runs runs per tool)" >&2

    labels=(tovrin-unpacker)
    commands=("$ours_command")
    while IFS=$'\t' read -r label command; do
        [[ -n "$label" ]] || continue
        labels+=("$label")
        commands+=("$command")
    done <<< "${format_peers[$format]}"

    # Round by round, every tool once per round: a burst of load on this
    # shared machine then slows all tools alike instead of one of them.
    states=() times=() rss=() reasons=()
    for i in "${!labels[@]}"; do states[i]=""; times[i]=""; rss[i]=0; done
    for ((round = 0; round <= runs; round++)); do
        for i in "${!labels[@]}"; do
            [[ -z "${states[i]}" ]] || continue
            result=0
            run_once "${commands[i]}" || result=$?
            if [[ $result -eq 2 ]]; then
                states[i]="wrong"
            elif [[ $result -ne 0 ]]; then
                states[i]="cannot"
                reasons[i]="$(head -c 200 "$scratch/stderr" | tr '\n' ' ')"
            else
                ((round > 0)) && times[i]+=" $run_seconds"
                ((run_rss_kib > rss[i])) && rss[i]=$run_rss_kib
            fi
        done
    done

    if [[ -n "${states[0]}" ]]; then
        if [[ "${states[0]}" == wrong ]]; then
            printf '%-6s %-16s FAIL: output differs from the input\n' "$format" tovrin-unpacker >> "$report"
        else
            printf '%-6s %-16s FAIL: %s\n' "$format" tovrin-unpacker "${reasons[0]}" >> "$report"
        fi
        failed=1
        rm -rf "$OUT"
        continue
    fi
    # shellcheck disable=SC2086
    our_time="$(median ${times[0]})"
    row "$format" tovrin-unpacker "$our_time" "${rss[0]}" "1.00"
    if ((rss[0] >= memory_limit_kib)); then
        missed+=("$format: peak memory ${rss[0]} KiB, target < $memory_limit_kib KiB")
    fi

    reference_time=""
    for ((i = 1; i < ${#labels[@]}; i++)); do
        label="${labels[i]}"
        case "${states[i]}" in
        wrong)
            # A peer writing wrong bytes means the input or the bench is broken.
            printf '%-6s %-16s FAIL: output differs from the input\n' "$format" "$label" >> "$report"
            failed=1
            continue ;;
        cannot)
            printf '%-6s %-16s %10s %9s %8s %10s   (cannot extract a bare .%s file)\n' "$format" "$label" \
                n/a n/a n/a n/a "${format_file[$format]##*.}" >> "$report"
            continue ;;
        esac
        # shellcheck disable=SC2086
        peer_time="$(median ${times[i]})"
        row "$format" "$label" "$peer_time" "${rss[i]}" "$(python3 -c "print(f'{$peer_time / $our_time:.2f}')")"
        [[ "$label" == "${format_reference[$format]}" ]] && reference_time="$peer_time"
    done

    if [[ -n "$reference_time" ]]; then
        speed="$(python3 -c "print(f'{$reference_time / $our_time:.2f}')")"
        verdict=met
        if ! python3 -c "import sys; sys.exit(0 if $reference_time / $our_time >= ${format_ratio[$format]} else 1)"; then
            verdict="NOT MET"
            missed+=("$format: ${speed} x ${format_reference[$format]}, target ${format_ratio[$format]}")
        fi
        echo "       target: speed >= ${format_ratio[$format]} x ${format_reference[$format]}: ${speed} x, $verdict" >> "$report"
    else
        missed+=("$format: reference ${format_reference[$format]} could not be timed")
    fi
    rm -rf "$OUT"
done

echo
echo "Load average before / after: $load_before / $(cut -d' ' -f1-3 /proc/loadavg)"
echo "Input: $size_bytes bytes (sha256 $expected); median of $runs runs after one warm-up."
echo "ratio = tool's time / our time (above 1: we are faster)."
echo "Targets: gz and bz2 >= 0.95 x the fastest peer on the same library (pigz -dc, bzip2 -dc);"
echo "         .Z >= 1.0 x uncompress -c; our peak memory < 16 MiB."
echo
cat "$report"
echo
if ((${#missed[@]} == 0)); then
    echo "All targets met."
else
    echo "Targets not met:"
    printf '  %s\n' "${missed[@]}"
fi
exit "$failed"
