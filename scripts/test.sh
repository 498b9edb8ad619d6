#!/usr/bin/env bash
# Installs the dependencies, builds with warnings as errors, and runs the whole test suite:
# once as a normal build, once under AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh

# The formatting matches .clang-format.
git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run --Werror

cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQV_WERROR=ON
cmake --build build -j2
# Every public header compiles on its own and only with public headers.
cmake --build build -j2 --target header_check
ctest --test-dir build --output-on-failure -j2 --timeout 300

cmake -S . -B build-sanitize -DCMAKE_BUILD_TYPE=Debug -DQV_WERROR=ON -DQV_SANITIZE=ON
cmake --build build-sanitize -j2
# One test asks for an impossible allocation on purpose and expects a null buffer back.
ASAN_OPTIONS=allocator_may_return_null=1:detect_leaks=1 \
LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp" \
UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build-sanitize --output-on-failure -j2 --timeout 600

# The frame pipeline and the export under ThreadSanitizer: the hand-offs between decoder,
# compositor, device and encoder threads. Image loops stay on the calling thread (see
# tests/tsan.supp for why).
cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQV_WERROR=ON -DQV_TSAN=ON
cmake --build build-tsan -j2 --target compositor_tests export_tests quillvane
QV_IMAGE_THREADS=1 \
TSAN_OPTIONS="suppressions=$PWD/tests/tsan.supp:halt_on_error=1:second_deadlock_stack=1" \
  ctest --test-dir build-tsan --output-on-failure -j2 --timeout 600 \
    -R "$(cat tests/tsan-tests.txt)"

# The readers under libFuzzer: every regression input replayed, then a short bounded run each.
FUZZ_SECONDS="${FUZZ_SECONDS:-20}" bash scripts/fuzz.sh
