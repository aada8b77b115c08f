#!/usr/bin/env bash
# Times tovrin-unpacker on ZIP archives against unzip, 7zz and bsdtar, the
# stored one-file archive against the copy floor (cat), and the encrypted
# one against unzip -P, checking every extracted byte of every run.
#
#   bench/bench-zip.sh [runs]        (default 5; one warm-up round first)
#
# Environment: TOVRIN_BENCH_DIR (work folder, default /tmp/tovrin-bench),
# TOVRIN_BUILD_DIR (default <repo>/build-release), TOVRIN_BENCH_SYSCALLS=1
# (also count each tool's system calls on tree.zip, with strace).
#
# Inputs, made once in $work/zip and kept while their recipe matches:
#   tree.zip: 5,000 files of 0-12 KiB in 50 folders (the tree of
#     bench-tar.sh), deflated by Info-ZIP zip -6;
#   big.zip, big-stored.zip, big-encrypted.zip: the shared 64 MiB "data" of
#     make-input.sh deflated (-6), stored (-0), and deflated with traditional
#     encryption (-P secret).
# Ratio = the tool's median time / ours (above 1: we are faster). Targets: at
# least 1.0 against unzip -q, 7zz x and bsdtar -xf on tree.zip and big.zip;
# big-stored.zip within 1.3 x of `cat`; big-encrypted.zip at least 1.0
# against unzip -P.
# Commands are kept in single quotes: IN, OUT and PROGRAM expand when they run.
# shellcheck disable=SC2016
set -euo pipefail
source "$(dirname "$0")/lib.sh"

bench_start 5 build-release /tmp/tovrin-bench "$@"
zipwork="$work/zip"
mkdir -p "$zipwork"
bench_need cmake python3 zip unzip bsdtar 7zz sha256sum
bench_build

recipe="zip-v1"
if [[ "$(cat "$zipwork/recipe" 2> /dev/null)" != "$recipe" ]]; then
    rm -rf "$zipwork/tree" "$zipwork/big" "$zipwork"/*.zip
    bench_make_tree "$zipwork/tree" tar-bench mtimes
    (cd "$zipwork/tree" && zip -q -r -6 ../tree.zip .)
    bench_tree_digest "$zipwork/tree" > "$zipwork/tree.digest"
    bench_input
    mkdir -p "$zipwork/big"
    cp "$work/data" "$zipwork/big/data"
    (cd "$zipwork/big" && zip -q -6 ../big.zip data && zip -q -0 ../big-stored.zip data &&
        zip -q -6 -P secret ../big-encrypted.zip data)
    bench_tree_digest "$zipwork/big" > "$zipwork/big.digest"
    echo "$recipe" > "$zipwork/recipe"
fi

bench_private_config "$zipwork/config"
bench_workspace "$zipwork"

bench_table 'key 18 archive' 'label 10 tool' 'time 10 median s' 'ratio 8 ratio'
status=0
for archive in tree.zip big.zip big-stored.zip big-encrypted.zip; do
    export IN="$zipwork/$archive"
    case "$archive" in tree.zip) bench_reset "tree:$(cat "$zipwork/tree.digest")" ;; *) bench_reset "tree:$(cat "$zipwork/big.digest")" ;; esac
    case "$archive" in
    big-encrypted.zip)
        bench_tool tovrin '"$PROGRAM" "#F($IN)#P($OUT)#S(secret)"'
        bench_tool unzip 'unzip -q -P secret "$IN" -d "$OUT"'
        bench_tool 7zz '7zz x -psecret -y -o"$OUT" "$IN"'
        bench_tool bsdtar 'bsdtar --passphrase secret -xf "$IN" -C "$OUT"' ;;
    *)
        bench_tool tovrin '"$PROGRAM" "#F($IN)#P($OUT)"'
        bench_tool unzip 'unzip -q "$IN" -d "$OUT"'
        bench_tool 7zz '7zz x -y -o"$OUT" "$IN"'
        bench_tool bsdtar 'bsdtar -xf "$IN" -C "$OUT"' ;;
    esac
    [[ "$archive" != big-stored.zip ]] || bench_tool cat 'cat "$IN" > "$OUT/data"' none
    bench_rounds
    if bench_any_failed; then status=1; fi
    [[ -z "${bench_state[0]}" ]] || continue
    bench_rows "$archive"
    [[ "$archive" != tree.zip ]] || bench_syscalls "$archive"
done
rm -rf "$OUT"
exit $status
