#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test: once in a normal build, then
# once more under AddressSanitizer and UndefinedBehaviorSanitizer with the fuzzers.
# DARQ_FUZZ_SECONDS sets how long each fuzzer runs (default 20).
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

export QT_QPA_PLATFORM=offscreen

darq_build
ctest --test-dir "$DARQ_BUILD" --output-on-failure --timeout 300 --parallel "$(nproc)"

darq_ensure_packages clang libclang-rt-dev
sanitize_build="$DARQ_ROOT/build-sanitize"
cmake -S "$DARQ_ROOT" -B "$sanitize_build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_CXX_COMPILER=clang++ -DDARQ_SANITIZE=ON -DDARQ_FUZZ=ON \
    -DDARQ_FUZZ_SECONDS="${DARQ_FUZZ_SECONDS:-20}" >/dev/null
cmake --build "$sanitize_build" --parallel
ASAN_OPTIONS="detect_leaks=1:abort_on_error=1" \
LSAN_OPTIONS="suppressions=$DARQ_ROOT/tests/sanitizer/lsan.supp:print_suppressions=0" \
UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1" \
    ctest --test-dir "$sanitize_build" --output-on-failure --timeout 600 --parallel "$(nproc)"
