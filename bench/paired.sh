#!/usr/bin/env bash
# Paired timing of our program and one peer on the same archive: they run
# in alternation, round after round (the order flipping every round), each
# run into a fresh output folder whose every file is checked against the
# peer's first output; prints both medians and ours / peer.
#
#   bench/paired.sh ARCHIVE 'our command' 'peer command' [rounds]   (default 7)
#
# Commands run under bash with IN (the archive), OUT (an empty folder) and
# PROGRAM (our Release build) in the environment, e.g.
#   bench/paired.sh /tmp/tovrin-bench/data.bz2 '"$PROGRAM" "#F($IN)#P($OUT)"' \
#       '7zz x -so "$IN" > "$OUT/data"'
# Environment: TOVRIN_BENCH_DIR (work folder, default /tmp/tovrin-bench),
# TOVRIN_BUILD_DIR (default <repo>/build-release).
set -euo pipefail
source "$(dirname "$0")/lib.sh"

(($# >= 3)) || { echo "usage: $0 ARCHIVE 'our command' 'peer command' [rounds]" >&2; exit 2; }
archive="$(realpath "$1")" ours="$2" peer="$3"
bench_start 7 build-release /tmp/tovrin-bench "${4:-}"
bench_need cmake python3 sha256sum
bench_build
bench_private_config "$work/paired/config"
bench_workspace "$work/paired"
export IN="$archive"

# The peer's output is the reference for both.
bench_run_once "$peer" || { echo "paired: the peer failed: $(head -c 300 "$bench_dir/stderr")" >&2; exit 1; }
expected="tree:$(bench_tree_digest "$OUT")"

bench_table 'key 20 archive' 'label 8 tool' 'time 10 median s'
bench_reset "$expected"
bench_tool ours "$ours"
bench_tool peer "$peer"
bench_rounds
status=0
if bench_any_failed; then status=1; fi
bench_rows "$(basename "$archive")"
rm -rf "$OUT"
exit $status
