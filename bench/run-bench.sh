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
# Commands are kept in single quotes: IN, OUT and PROGRAM expand when they run.
# shellcheck disable=SC2016
set -euo pipefail

source "$(dirname "$0")/lib.sh"

bench_start 5 build-release /tmp/tovrin-bench "$@"

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

bench_need cmake python3 sha256sum /usr/bin/time
bench_build

"$here/make-input.sh" "$work"
expected="$(cut -d' ' -f1 "$work/data.sha256")"
size_bytes="$(stat -c %s "$work/data")"
bench_size="$size_bytes"

bench_private_config "$work/config"
bench_workspace "$work/out"
bench_mode --rss --exec

load_before="$(cut -d' ' -f1-3 /proc/loadavg)"
failed=0
missed=()
report="$(mktemp)"
trap 'rm -f "$report"' EXIT

bench_table 'key 6 format' 'label 16 tool' 'time 10 median s' 'mbps 9 MB/s' 'ratio 8 ratio' \
    'mib 8/10 peak RSS' > "$report"
for format in "${formats[@]}"; do
    export IN="$work/${format_file[$format]}"
    export OUT="$bench_dir/$format"
    echo "== $format: ${format_file[$format]} (one warm-up and $runs runs per tool)" >&2

    bench_reset "file:$expected"
    bench_tool tovrin-unpacker '"$PROGRAM" "#F($IN)#P($OUT)"'
    while IFS=$'\t' read -r label command; do
        [[ -n "$label" ]] || continue
        bench_tool "$label" "$command"
    done <<< "${format_peers[$format]}"
    bench_rounds

    if [[ -n "${bench_state[0]}" ]]; then
        if [[ "${bench_state[0]}" == wrong ]]; then
            bench_note "$format" tovrin-unpacker "FAIL: output differs from the input" >> "$report"
        else
            bench_note "$format" tovrin-unpacker "FAIL: ${bench_reasons[0]:0:200}" >> "$report"
        fi
        failed=1
        rm -rf "$OUT"
        continue
    fi
    our_time="${bench_wall[0]}"
    bench_row "$format" 0 >> "$report"
    if ((bench_peaks[0] >= memory_limit_kib)); then
        missed+=("$format: peak memory ${bench_peaks[0]} KiB, target < $memory_limit_kib KiB")
    fi

    reference_time=""
    for ((i = 1; i < ${#bench_labels[@]}; i++)); do
        label="${bench_labels[i]}"
        case "${bench_state[i]}" in
        wrong)
            # A peer writing wrong bytes means the input or the bench is broken.
            bench_note "$format" "$label" "FAIL: output differs from the input" >> "$report"
            failed=1
            continue ;;
        failed)
            bench_line "$format" "$label" n/a n/a n/a n/a \
                "   (cannot extract a bare .${format_file[$format]##*.} file)" >> "$report"
            continue ;;
        esac
        bench_row "$format" "$i" >> "$report"
        [[ "$label" == "${format_reference[$format]}" ]] && reference_time="${bench_wall[i]}"
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
