#!/bin/sh
# Sets up, builds and runs the whole test suite: once in a normal build, then the tests
# again in a build with AddressSanitizer and UndefinedBehaviorSanitizer. Between the two a
# clang tree without Widgets builds the logic libraries, pellmar-cli and the fuzz targets,
# and runs each fuzz target briefly. Three trees, no more: each compiles what it checks.
set -eu
cd "$(dirname "$0")/.."
scripts/setup.sh build -DPELLMAR_WERROR=ON
scripts/check-source.sh
scripts/tidy.sh --changed
(cd build && ctest --output-on-failure -j2)
# The logic libraries and pellmar-cli must build without Widgets: the fuzz tree is that
# build (Qt's Widgets not even looked for), and its fuzz targets link those same libraries.
CXX=clang++ scripts/setup.sh build-fuzz -DPELLMAR_FUZZ=ON -DPELLMAR_GUI=OFF -DPELLMAR_TESTS=OFF \
    -DPELLMAR_SEARCHD=ON
[ -x build-fuzz/bin/pellmar-cli ] || { echo "build-fuzz: no pellmar-cli without Widgets" >&2; exit 1; }
for fuzzer in build-fuzz/bin/fuzz_*; do
    log="build-fuzz/$(basename "$fuzzer").log"
    "$fuzzer" -runs=3000 -max_len=4096 >"$log" 2>&1 || { cat "$log"; exit 1; }
done
scripts/setup.sh build-asan -DCMAKE_BUILD_TYPE=Debug -DPELLMAR_SANITIZE=ON
cd build-asan
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
    LSAN_OPTIONS="suppressions=$(pwd)/../tests/lsan-suppressions.txt" ctest --output-on-failure -j2
