#!/usr/bin/env bash
# Installs what is missing, builds the program and runs it with the given
# arguments, for example:
#   scripts/run.sh '#F(/path/to/archive.tar.gz)#P(/tmp/out)'
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
"$top/scripts/install-deps.sh" build >&2
cmake -S "$top" -B "$top/build" -DCMAKE_BUILD_TYPE=Release -DTOVRIN_TESTS=OFF >/dev/null
cmake --build "$top/build" -j"$(nproc)" --target tovrin-unpacker >&2
exec "$top/build/tovrin-unpacker" "$@"
