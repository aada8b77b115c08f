#!/usr/bin/env bash
# Installs what is missing, then builds and runs every test: the suite in a
# normal build with warnings as errors, the check of the build's package
# list, the Debian package, a short run of every fuzz target, the tests that
# cross threads under ThreadSanitizer, and the whole suite again under
# AddressSanitizer and UndefinedBehaviorSanitizer.
# FUZZ_SECONDS sets the fuzzing time per target (default 20).
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
jobs="$(nproc)"
"$top/scripts/install-deps.sh" test

echo "== normal build and tests"
cmake -S "$top" -B "$top/build-test" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTOVRIN_WERROR=ON >/dev/null
cmake --build "$top/build-test" -j"$jobs"
(cd "$top/build-test" && ctest --output-on-failure -j"$jobs")

echo "== the build list names every package the build reads from"
bash "$top/scripts/check-build-deps.sh" "$top/build-test"

echo "== the Debian package: unpacked, linted, installed and purged"
bash "$top/tests/packaging/check-package.sh" "$top/build-test"

echo "== the real window under Xvfb (screenshot: build-test/ui-e2e.png)"
bash "$top/tests/ui/xvfb-e2e.sh" "$top/build-test"

echo "== fuzz smoke run"
if [ -x "$top/fuzz/run-fuzzers.sh" ]; then
  "$top/fuzz/run-fuzzers.sh" "${FUZZ_SECONDS:-20}"
fi

echo "== ThreadSanitizer build of the tests that cross threads"
cmake -S "$top" -B "$top/build-tsan" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTOVRIN_WERROR=ON -DTOVRIN_TSAN=ON >/dev/null
cmake --build "$top/build-tsan" -j"$jobs" --target tovrin_tsan_tests
TSAN_OPTIONS="halt_on_error=1" "$top/build-tsan/tests/tovrin_tsan_tests" --gtest_filter='DecodeAhead*:TarThreads*:Bzip2*'

echo "== sanitizer build and tests (ASan + UBSan)"
cmake -S "$top" -B "$top/build-asan" -DCMAKE_BUILD_TYPE=Debug -DTOVRIN_WERROR=ON -DTOVRIN_SANITIZE=ON >/dev/null
cmake --build "$top/build-asan" -j"$jobs"
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
(cd "$top/build-asan" && ctest --output-on-failure -j"$jobs")
