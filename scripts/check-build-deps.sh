#!/usr/bin/env bash
# Checks that the build list of scripts/install-deps.sh names, directly or
# through their dependencies, every Debian package the build reads from.
# A package that is present on this machine by chance (as fluid once was,
# read by FLTK's CMake package file) would otherwise only show up as a
# failure on a fresh machine.
#
#   check-build-deps.sh BUILD_DIR
#
# BUILD_DIR is a tree in which the program has been built. What is read:
# - a fresh configure of the program alone, traced: every existing file that
#   a CMake file from outside CMake and this tree names (a package's config
#   file importing a tool, say) and every such CMake file itself;
# - the tools the configure chose (compiler, make, pkg-config, ...);
# - every header the compiler read for the product (its dependency files)
#   and every library the program's link line names;
# - the tools that making the Debian package runs.
# Files that belong to no package (built here, under /usr/local) are listed
# but do not fail the check.
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:?usage: $0 BUILD_DIR}"
build="$(cd "$build" && pwd)"
scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT

cmake_root="$(cmake --system-information 2>/dev/null | sed -n 's/^CMAKE_ROOT "\(.*\)"$/\1/p')"
cmake -S "$top" -B "$scratch/configure" -DTOVRIN_TESTS=OFF --trace-expand \
      --trace-format=json-v1 --trace-redirect="$scratch/trace.json" > /dev/null

files="$scratch/files"
: > "$files"
python3 - "$scratch/trace.json" "$top" "$cmake_root" "$scratch" >> "$files" <<'PY'
import json, os, re, sys
trace, top, cmake_root, scratch = sys.argv[1:5]
seen = set()
for line in open(trace, encoding="utf-8", errors="replace"):
    try:
        entry = json.loads(line)
    except ValueError:
        continue
    source = entry.get("file", "")
    if not source.startswith("/") or any(
            source.startswith(inside + "/") for inside in (top, cmake_root, scratch) if inside):
        continue
    seen.add(source)
    for arg in entry.get("args", []):
        for word in re.split(r'[;\s"]+', arg):
            if word.startswith("/") and os.path.isfile(word):
                seen.add(word)
print("\n".join(sorted(seen)))
PY

sed -n -E 's/^CMAKE_(C_COMPILER|CXX_COMPILER|MAKE_PROGRAM|AR|RANLIB|LINKER|STRIP|COMMAND|CPACK_COMMAND):[A-Z]+=(\/.*)$/\2/p; s/^PKG_CONFIG_EXECUTABLE:[A-Z]+=(\/.*)$/\1/p' \
    "$scratch/configure/CMakeCache.txt" >> "$files"
for tool in dpkg dpkg-shlibdeps file; do command -v "$tool" >> "$files" || echo "/missing/$tool" >> "$files"; done

# Headers the compiler read for the product's own targets (not the tree's own).
sources="$(sed -n 's/^CMAKE_HOME_DIRECTORY:INTERNAL=//p' "$build/CMakeCache.txt")"
for target in platform core ui formats app tovrin-unpacker; do
  find "$build/CMakeFiles/$target.dir" -name '*.o.d' -print0 2>/dev/null |
    xargs -0 -r cat | tr ' \\' '\n\n' | grep '^/' | grep -v -e "^$top/" -e "^$sources/" -e "^$build/" >> "$files" || true
done
if ! find "$build/CMakeFiles/platform.dir" -name '*.o.d' 2>/dev/null | grep -q .; then
  echo "check-build-deps: no compiler dependency files under $build; build the program first" >&2
  exit 2
fi
# Libraries on the program's link line.
compiler="$(sed -n -E 's/^CMAKE_CXX_COMPILER:[A-Z]+=(.*)$/\1/p' "$scratch/configure/CMakeCache.txt")"
for word in $(cat "$build/CMakeFiles/tovrin-unpacker.dir/link.txt"); do
  case "$word" in
    /*.so|/*.so.*|/*.a) echo "$word" ;;
    -l*) "$compiler" -print-file-name="lib${word#-l}.so" ;;
  esac
done >> "$files"

# Owners of every file: dpkg knows a file by the path its package names,
# which on a merged /usr may lack the /usr prefix or be behind a symlink.
: > "$scratch/unowned"
sort -u "$files" | grep . | while read -r path; do
  if [ -e "$path" ]; then
    real="$(realpath "$path")"
    printf '%s\t%s\n%s\t%s\n%s\t%s\n' "$path" "$path" "$path" "$real" "$path" "${real#/usr}"
  else
    echo "$path (missing)" >> "$scratch/unowned"
  fi
done > "$scratch/forms"
cut -f2 "$scratch/forms" | sort -u | xargs -r dpkg -S 2> /dev/null |
  sed -n -E 's/^([^:,]+)(:[a-z0-9]+)?(, [^:]+)*: (\/.*)$/\4\t\1/p' | sort -u > "$scratch/dpkg" || true
awk -F'\t' 'NR == FNR { owner[$1] = $2; next }
             !($1 in found) && ($2 in owner) { found[$1] = owner[$2] }
             { all[$1] = 1 }
             END { for (p in all) if (p in found) print found[p], p; else print p > "/dev/stderr" }' \
    "$scratch/dpkg" "$scratch/forms" > "$scratch/owners" 2>> "$scratch/unowned"

# What apt brings for the build list, without recommendations.
mapfile -t named < <("$top/scripts/install-deps.sh" --list build)
apt-cache depends --recurse --no-recommends --no-suggests --no-conflicts --no-breaks \
    --no-replaces --no-enhances "${named[@]}" 2>/dev/null |
  sed -n -E 's/^([^ <][^ ]*)$/\1/p; s/^ +(Pre)?Depends: <?([^ >]+)>?$/\2/p' |
  sed 's/:.*//' | sort -u > "$scratch/closure"

fail=0
while read -r package path; do
  if grep -qx "$package" "$scratch/closure"; then continue; fi
  priority="$(dpkg-query -W -f='${Priority} ${Essential}' "$package" 2>/dev/null || true)"
  case "$priority" in required*|*yes) continue ;; esac
  echo "check-build-deps: $path comes from $package, which scripts/install-deps.sh build does not bring" >&2
  fail=1
done < <(sort -u "$scratch/owners")

if [ -s "$scratch/unowned" ]; then
  echo "check-build-deps: read but from no package: $(sort -u "$scratch/unowned" | tr '\n' ' ')"
fi
if [ "$fail" = 0 ]; then
  echo "check-build-deps: every package the build reads from is on the build list ($(cut -d' ' -f1 "$scratch/owners" | sort -u | wc -l) packages checked)"
fi
exit "$fail"
