#!/usr/bin/env bash
# Installs what is needed, builds everything and runs the whole test suite;
# then builds the core with AddressSanitizer and UndefinedBehaviorSanitizer
# and runs the core tests again there.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/setup.sh"
jobs=$(nproc)
export QT_QPA_PLATFORM=offscreen

cmake -S "$top" -B "$top/build/test" -G Ninja -DCMAKE_BUILD_TYPE=Release
cmake --build "$top/build/test" -j "$jobs"
ctest --test-dir "$top/build/test" --output-on-failure -j "$jobs" --timeout 600

cmake -S "$top" -B "$top/build/asan" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DFOLIVO_GUI=OFF -DFOLIVO_SANITIZE=ON -DFOLIVO_BENCH=OFF
cmake --build "$top/build/asan" -j "$jobs"
ASAN_OPTIONS=detect_leaks=0:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir "$top/build/asan" --output-on-failure -j "$jobs" --timeout 1200
