#!/usr/bin/env bash
# Builds the library, the host and every test with AddressSanitizer and
# UndefinedBehaviorSanitizer into their own build directory and runs the tests.
# Any report stops the program that made it, so the test fails.
# Usage: scripts/sanitize.sh [build-dir]
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR="${1:-build-sanitize}"
SAN="-fsanitize=address,undefined,float-cast-overflow -fno-sanitize-recover=all -fno-omit-frame-pointer"
cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=None -DORDALIS_BUILD_BENCH=OFF \
  -DCMAKE_C_FLAGS="-O1 -g $SAN" -DCMAKE_CXX_FLAGS="-O1 -g $SAN" \
  -DCMAKE_EXE_LINKER_FLAGS="$SAN" -DCMAKE_SHARED_LINKER_FLAGS="$SAN" -DCMAKE_MODULE_LINKER_FLAGS="$SAN" \
  ${ORDALIS_CMAKE_ARGS:-}
cmake --build "$BUILD_DIR" -j"$(nproc)"
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=0:strict_string_checks=1:detect_stack_use_after_return=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export LSAN_OPTIONS="suppressions=$PWD/scripts/lsan.supp:print_suppressions=0"
cd "$BUILD_DIR"
ctest --output-on-failure -j"$(nproc)" --timeout 900
