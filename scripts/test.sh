#!/bin/sh
# Sets up, builds and runs the whole test suite: once in a normal build, then the tests
# again in a build with AddressSanitizer and UndefinedBehaviorSanitizer. Between the two a
# clang tree without Widgets builds the logic libraries, pellmar-cli and the fuzz targets,
# and runs each fuzz target briefly. Last, a ThreadSanitizer tree builds and runs only the
# tests of the search service and the crawler, whose threads, locks and connection pools
# the others cannot judge. Four trees: each compiles only what it checks.
set -eu
cd "$(dirname "$0")/.."
scripts/setup.sh build -DPELLMAR_WERROR=ON
scripts/check-source.sh
scripts/tidy.sh
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
cd ..
# The service's and the crawler's tests under ThreadSanitizer (GCC's: clang 14's runtime stops
# at Qt's process start): only their executables and the programs they start are built, no
# windows. Left out: the crawl engine's tests against real servers (over ten minutes under
# ThreadSanitizer) and the desktop notification test (QtDBus's own thread and libdbus lock
# with futexes the sanitizer cannot see: it reports their insides). The tests there start
# processes as fork does (tests/support/ForkUnderThreadSanitizer.cpp).
# tests/tsan-suppressions.txt names the reports that belong to libraries, not to us.
cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPELLMAR_TSAN=ON \
    -DPELLMAR_GUI=OFF >/dev/null
ninja -C build-tsan searchd_tests crawl_tests
cd build-tsan
TSAN_OPTIONS="suppressions=$(pwd)/../tests/tsan-suppressions.txt second_deadlock_stack=1" \
    ctest --output-on-failure -j2 \
    -E '_NOT_BUILT$|^(platform|service)\.|^searchd\.SavedSearchesOnASessionBus$'
