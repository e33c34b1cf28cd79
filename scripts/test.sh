#!/bin/sh
# Sets up, builds and runs the whole test suite: once in a normal build, then the tests
# again in a build with AddressSanitizer and UndefinedBehaviorSanitizer.
set -eu
cd "$(dirname "$0")/.."
scripts/setup.sh build
(cd build && ctest --output-on-failure -j2)
scripts/setup.sh build-asan -DCMAKE_BUILD_TYPE=Debug -DPELLMAR_SANITIZE=ON
cd build-asan
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 ctest --output-on-failure -j2
