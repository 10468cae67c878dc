#!/usr/bin/env bash
# Builds the whole test suite with AddressSanitizer and UndefinedBehaviorSanitizer in build-asan
# (or $TAVELO_ASAN_BUILD_DIR) and runs it with ctest. A sanitizer report fails the test that made
# it: memory errors, undefined behaviour and leaks alike. tests/lsan.supp names the only leaks
# tolerated, those inside Qt, fontconfig and OpenSSL. Extra arguments go to ctest (e.g. -R tst_encodedwords).
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
build="${TAVELO_ASAN_BUILD_DIR:-$here/build-asan}"
"$here/scripts/deps.sh"

# -O1 keeps the run fast enough and the stacks readable; the Debug configuration keeps Q_ASSERT on.
sanitize="-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer"
cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
    -DCMAKE_CXX_FLAGS_DEBUG="-O1 -g" \
    -DCMAKE_CXX_FLAGS="$sanitize" \
    -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" >/dev/null
cmake --build "$build" --parallel

# detect_leaks is the default on x86-64 Linux; it is spelt out because leaks must fail the run.
export ASAN_OPTIONS="detect_leaks=1:detect_stack_use_after_return=1:check_initialization_order=1:strict_init_order=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export LSAN_OPTIONS="suppressions=$here/tests/lsan.supp:print_suppressions=0"
cd "$build"
ctest --output-on-failure --parallel "$(nproc)" "$@"
