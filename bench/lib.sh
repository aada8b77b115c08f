# shellcheck shell=bash
# Shared helpers of the benchmark scripts in bench/, sourced by each of them:
# settings and the Release build, the shared inputs, timed and checked runs
# in a fresh output folder, medians, and the result table with its ratios.
# A script keeps only what is its own: how its archives are made and which
# peer commands it times.
#
# Typical use:
#   source "$(dirname "$0")/lib.sh"
#   bench_start 5 build-release /tmp/tovrin-bench "$@"   # runs, here, repo, build, work
#   bench_need python3 7zz ...
#   bench_build                                         # exports PROGRAM
#   bench_workspace "$work/x"                           # exports OUT
#   bench_private_config "$work/x/config"
#   bench_mode --rss --exec                             # how commands run
#   bench_table 'key 10 archive' 'label 8 tool' 'time 10 median s' 'ratio 8 ratio'
#   bench_reset "tree:$digest"; bench_tool tovrin '"$PROGRAM" ...'; bench_tool ...
#   bench_rounds; bench_rows "$archive"
#
# Commands are strings run by `bash -c` with IN and OUT in the environment;
# every run starts from an empty $OUT.

bench_here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
bench_repo="$(cd "$bench_here/.." && pwd)"
bench_name="$(basename "$0" .sh)"

# --- settings -------------------------------------------------------------

# Reads the one optional argument, the number of timed runs, and sets runs,
# here (bench/), repo, build (TOVRIN_BUILD_DIR or <repo>/BUILD-NAME) and work
# (TOVRIN_BENCH_DIR or DEFAULT-WORK).
bench_start() {  # default-runs build-name default-work [script arguments...]
    local default_runs="$1" build_name="$2" default_work="$3"
    shift 3
    runs="${1:-$default_runs}"
    [[ "$runs" =~ ^[1-9][0-9]*$ ]] || { echo "usage: $0 [runs]" >&2; exit 2; }
    # shellcheck disable=SC2034  # used by the scripts
    here="$bench_here"
    repo="$bench_repo"
    build="${TOVRIN_BUILD_DIR:-$repo/$build_name}"
    work="${TOVRIN_BENCH_DIR:-$default_work}"
}

bench_need() {  # tool...
    local tool
    for tool in "$@"; do
        command -v "$tool" > /dev/null || { echo "$bench_name: $tool is needed" >&2; exit 1; }
    done
}

# Configures $build once as a Release build without tests, builds the
# program and exports its path as PROGRAM.
bench_build() {
    if [[ ! -f "$build/CMakeCache.txt" ]]; then
        cmake -S "$repo" -B "$build" -DCMAKE_BUILD_TYPE=Release -DTOVRIN_TESTS=OFF > /dev/null
    fi
    cmake --build "$build" -j2 --target tovrin-unpacker > /dev/null
    PROGRAM="$build/tovrin-unpacker"
    [[ -x "$PROGRAM" ]] || { echo "$bench_name: no program at $PROGRAM" >&2; exit 1; }
    export PROGRAM
}

# Our program keeps its settings in a registry file below XDG_CONFIG_HOME:
# a private, fresh one, so the bench neither reads nor changes the user's
# settings (fresh settings: no "Create folder", the output lands in $OUT).
bench_private_config() {  # folder
    export XDG_CONFIG_HOME="$1"
    unset TOVRIN_ROOT
    rm -rf "$XDG_CONFIG_HOME"
    mkdir -p "$XDG_CONFIG_HOME"
}

# The folder for the helper files of the runs (rss, stderr, strace) and the
# output folder OUT (default <folder>/out).
bench_workspace() {  # folder [out-folder]
    bench_dir="$1"
    mkdir -p "$bench_dir"
    OUT="${2:-$bench_dir/out}"
    export OUT
}

# How commands run: --rss under /usr/bin/time (peak RSS and CPU time),
# --exec with `exec` in front (time and memory are the tool's own, not the
# shell's), --series all runs of one tool before the next tool (default:
# paired rounds, see bench_rounds).
bench_rss="" bench_exec="" bench_series="" bench_size=0
bench_mode() {  # [--rss] [--exec] [--series]
    local option
    for option in "$@"; do
        case "$option" in
        --rss) bench_rss=1 ;;
        --exec) bench_exec=1 ;;
        --series) bench_series=1 ;;
        *) echo "bench_mode: unknown option $option" >&2; exit 2 ;;
        esac
    done
}

# --- inputs ---------------------------------------------------------------

# The shared 64 MiB "data" (and its .gz, .bz2, .Z) in $work.
bench_input() {
    "$bench_here/make-input.sh" "$work" > /dev/null
}

bench_sha256() {  # file
    sha256sum < "$1" | cut -d' ' -f1
}

# Digest of a tree: every file's relative path and bytes, in a fixed order.
bench_tree_digest() {  # folder
    (cd "$1" && find . -type f -print0 | LC_ALL=C sort -z | xargs -0 sha256sum | sha256sum | cut -d' ' -f1)
}

# The 5,000-file tree: files of 0-12 KiB in 50 folders d00..d49, every third
# one text-like, the others half structured and half incompressible, from
# SHAKE-256 seeded with "<seed>-<n>". With "mtimes", file n gets the
# modification time 1500000000 + n.
bench_make_tree() {  # folder seed [mtimes]
    python3 - "$1" "$2" "${3:-}" << 'PY'
import hashlib, os, sys
root, prefix, mtimes = sys.argv[1], sys.argv[2].encode(), sys.argv[3] == "mtimes"
words = b"alpha beta gamma delta header member folder window stream block archive ".split()
for i in range(5000):
    folder = os.path.join(root, "d%02d" % (i % 50))
    os.makedirs(folder, exist_ok=True)
    seed = hashlib.shake_256(prefix + b"-%d" % i).digest(16 * 1024)
    size = int.from_bytes(seed[:2], "little") % 12288
    if i % 3 == 0:   # text-like
        body = b" ".join(words[b % len(words)] for b in seed[2:])[:size]
    else:            # half structured, half incompressible
        body = (bytes(range(256)) * 64)[: size // 2] + seed[2 : 2 + size - size // 2]
    path = os.path.join(folder, "f%04d.dat" % i)
    with open(path, "wb") as f:
        f.write(body)
    if mtimes:
        os.utime(path, (1500000000 + i, 1500000000 + i))
PY
}

# --- runs -----------------------------------------------------------------

# Runs a command once in a fresh $OUT. Sets bench_seconds (wall time) and,
# with --rss, bench_cpu (user + system seconds) and bench_rss_kib. The check
# is "tree:<digest>" (the whole of $OUT), "file:<sha256>" ($OUT/data alone)
# or "none". Returns 1 when the tool failed (or left no $OUT/data to check),
# 2 when its output differs.
bench_run_once() {  # command [check]
    local command="$1" check="${2:-none}" start end ns status=0 user system
    [[ -z "$bench_exec" ]] || command="exec $command"
    rm -rf "$OUT"
    mkdir -p "$OUT"
    bench_cpu="" bench_rss_kib=0
    start=$(date +%s%N)
    if [[ -n "$bench_rss" ]]; then
        /usr/bin/time -f "%U %S %M" -o "$bench_dir/rss" bash -c "$command" > /dev/null 2> "$bench_dir/stderr" || status=$?
    else
        bash -c "$command" > /dev/null 2> "$bench_dir/stderr" || status=$?
    fi
    end=$(date +%s%N)
    ns=$((end - start))
    printf -v bench_seconds '%d.%09d' $((ns / 1000000000)) $((ns % 1000000000))
    if [[ -n "$bench_rss" ]]; then
        read -r user system bench_rss_kib < <(tail -n 1 "$bench_dir/rss")
        bench_cpu="$(awk -v u="$user" -v s="$system" 'BEGIN { print u + s }')"
    fi
    ((status == 0)) || return 1
    case "$check" in
    none) ;;
    tree:*) [[ "$(bench_tree_digest "$OUT")" == "${check#tree:}" ]] || return 2 ;;
    file:*)
        [[ -f "$OUT/data" ]] || return 1
        [[ "$(bench_sha256 "$OUT/data")" == "${check#file:}" ]] || return 2 ;;
    *) echo "bench_run_once: unknown check $check" >&2; exit 2 ;;
    esac
    return 0
}

# The tools of one measurement: bench_reset sets the default check, then one
# bench_tool per tool, ours first (the ratios are relative to it).
bench_reset() {  # default-check
    bench_check="$1"
    bench_labels=() bench_commands=() bench_checks=()
}
bench_tool() {  # label command [check]
    bench_labels+=("$1")
    bench_commands+=("$2")
    bench_checks+=("${3:-$bench_check}")
}

# One warm-up run and $runs timed runs of every tool. A tool that fails or
# writes wrong output is dropped at once (bench_state "failed" or "wrong",
# bench_reasons the start of its error output). Per tool: bench_wall and,
# with --rss, bench_cpu_median (medians of the timed runs) and bench_peaks
# (highest peak RSS in KiB of all runs, the warm-up included).
bench_rounds() {
    local i round count=${#bench_labels[@]}
    bench_state=() bench_reasons=() bench_times=() bench_cpus=() bench_peaks=()
    bench_wall=() bench_cpu_median=()
    for ((i = 0; i < count; i++)); do
        bench_state[i]="" bench_reasons[i]="" bench_times[i]="" bench_cpus[i]="" bench_peaks[i]=0
        bench_wall[i]="" bench_cpu_median[i]=""
    done
    if [[ -n "$bench_series" ]]; then
        for ((i = 0; i < count; i++)); do
            for ((round = 0; round <= runs; round++)); do bench_round_one "$i" "$round"; done
        done
    else
        # Paired rounds: every tool once per round, the order reversed every
        # other round so that neither side always runs first (warm caches,
        # a burst of load on the shared machine hit both alike).
        for ((round = 0; round <= runs; round++)); do
            for ((i = 0; i < count; i++)); do
                if ((round % 2 == 0)); then bench_round_one "$i" "$round"; else bench_round_one $((count - 1 - i)) "$round"; fi
            done
        done
    fi
    for ((i = 0; i < count; i++)); do
        [[ -z "${bench_state[i]}" ]] || continue
        # shellcheck disable=SC2086
        bench_wall[i]="$(bench_median ${bench_times[i]})"
        # shellcheck disable=SC2086
        [[ -z "$bench_rss" ]] || bench_cpu_median[i]="$(bench_median ${bench_cpus[i]})"
    done
}
bench_round_one() {  # tool-index round
    local i="$1" round="$2" result=0
    [[ -z "${bench_state[i]}" ]] || return 0
    bench_run_once "${bench_commands[i]}" "${bench_checks[i]}" || result=$?
    if ((result == 2)); then
        bench_state[i]=wrong
        echo "$bench_name: ${bench_labels[i]}: output differs: ${bench_commands[i]}" >&2
    elif ((result != 0)); then
        bench_state[i]=failed
        bench_reasons[i]="$(head -c 300 "$bench_dir/stderr" | tr '\n' ' ')"
        echo "$bench_name: ${bench_labels[i]}: failed: ${bench_commands[i]}: ${bench_reasons[i]:-(no error output; exit status 0 means no \$OUT/data)}" >&2
    else
        if ((round > 0)); then
            bench_times[i]+=" $bench_seconds"
            bench_cpus[i]+=" $bench_cpu"
        fi
        if ((bench_rss_kib > bench_peaks[i])); then bench_peaks[i]=$bench_rss_kib; fi
    fi
    return 0
}

# Whether a tool of the last bench_rounds failed or wrote wrong output.
bench_any_failed() {
    local state
    for state in "${bench_state[@]}"; do
        [[ -z "$state" ]] || return 0
    done
    return 1
}

bench_median() {  # number...
    python3 -c 'import statistics, sys; print(statistics.median(float(x) for x in sys.argv[1:]))' "$@"
}

# With TOVRIN_BENCH_SYSCALLS=1 (and strace installed) prints every tool's
# system calls on the current input (strace -c -f, the shell that runs the
# tool included): unlike times on a shared machine, the counts repeat from
# run to run.
bench_syscalls() {  # key
    local i command count
    if [[ "${TOVRIN_BENCH_SYSCALLS:-}" != 1 ]] || ! command -v strace > /dev/null; then
        return 0
    fi
    for i in "${!bench_labels[@]}"; do
        command="${bench_commands[i]}"
        [[ -z "$bench_exec" ]] || command="exec $command"
        rm -rf "$OUT"
        mkdir -p "$OUT"
        if strace -f -c -o "$bench_dir/strace" bash -c "$command" > /dev/null 2>&1; then
            count="$(awk '$NF == "total" { print $4 }' "$bench_dir/strace")"
        else
            count=failed
        fi
        printf "%-${bench_widths[0]}s %-${bench_widths[1]}s %${bench_widths[2]}s system calls\n" \
            "$1" "${bench_labels[i]}" "$count"
    done
}

# --- the table ------------------------------------------------------------

# Declares the table's columns and prints its header. A column is
# "kind width[/header-width] title"; rows join the columns with one space:
#   key      %-<w>s   the input (format, archive, method)
#   label    %-<w>s   the tool
#   time     %<w>.3f  median wall seconds
#   mbps     %<w>.1f  MB/s: 10^6 bytes of output ($bench_size) per second
#   ratio    %<w>s    the tool's median time / ours, 2 decimals
#   cpu      %<w>.3f  median CPU seconds (user + system)
#   cpuratio %<w>s    the tool's median CPU time / ours, 2 decimals
#   mib      %<w>.1f MiB   peak RSS
#   kib      %<w>d KiB     peak RSS
# The header width is the row's width (4 more for mib and kib) unless given.
bench_table() {  # column...
    local column kind width title header_width
    bench_kinds=() bench_widths=() bench_header_widths=()
    local titles=()
    for column in "$@"; do
        read -r kind width title <<< "$column"
        header_width="${width#*/}"
        width="${width%/*}"
        if [[ "$header_width" == "$width" && ("$kind" == mib || "$kind" == kib) ]]; then
            header_width=$((width + 4))
        fi
        bench_kinds+=("$kind")
        bench_widths+=("$width")
        bench_header_widths+=("$header_width")
        titles+=("$title")
    done
    bench_line "${titles[@]}"
}

# Prints values in the header's columns (left-aligned for key and label,
# right-aligned after); values beyond the last column follow it verbatim.
bench_line() {  # value...
    local i line="" field values=("$@")
    for ((i = 0; i < ${#values[@]}; i++)); do
        field="${values[i]}"
        if ((i >= ${#bench_kinds[@]})); then
            line+="$field"
            continue
        fi
        ((i == 0)) || line+=" "
        case "${bench_kinds[i]}" in
        key | label) printf -v field "%-${bench_header_widths[i]}s" "$field" ;;
        *) printf -v field "%${bench_header_widths[i]}s" "$field" ;;
        esac
        line+="$field"
    done
    printf '%s\n' "$line"
}

# The key and label columns, then free text.
bench_note() {  # key label text
    printf "%-${bench_widths[0]}s %-${bench_widths[1]}s %s\n" "$1" "$2" "$3"
}

# One result row of tool <index> after bench_rounds; a peer's row ends with
# the paired ratio, our median time / the peer's (below 1: we are faster).
bench_row() {  # key index
    local i="$2" c line="" field t="${bench_wall[$2]}" ours="${bench_wall[0]}"
    for c in "${!bench_kinds[@]}"; do
        local w="${bench_widths[c]}"
        case "${bench_kinds[c]}" in
        key) printf -v field "%-${w}s" "$1" ;;
        label) printf -v field "%-${w}s" "${bench_labels[i]}" ;;
        time) printf -v field "%${w}.3f" "$t" ;;
        cpu) printf -v field "%${w}.3f" "${bench_cpu_median[i]}" ;;
        mbps) printf -v field "%${w}.1f" "$(bench_calc "$bench_size / 1e6 / $t")" ;;
        ratio) printf -v field "%${w}s" "$(bench_calc "$t / $ours" %.2f)" ;;
        cpuratio)
            printf -v field "%${w}s" "$(bench_calc "${bench_cpu_median[i]} / (${bench_cpu_median[0]} > 0.001 ? ${bench_cpu_median[0]} : 0.001)" %.2f)" ;;
        mib) printf -v field "%${w}.1f MiB" "$(bench_calc "${bench_peaks[i]} / 1024")" ;;
        kib) printf -v field "%${w}d KiB" "${bench_peaks[i]}" ;;
        esac
        ((c == 0)) || line+=" "
        line+="$field"
    done
    ((i == 0)) || line+="   ours/peer $(bench_calc "$ours / $t" %.2f)"
    printf '%s\n' "$line"
}

# Rows of every tool that was timed; failed tools were reported on stderr.
bench_rows() {  # key
    local i
    for i in "${!bench_labels[@]}"; do
        [[ -n "${bench_state[i]}" ]] || bench_row "$1" "$i"
    done
}

bench_calc() {  # expression [printf-format]
    awk "BEGIN { printf \"${2:-%.17g}\\n\", $1 }"
}
