#!/usr/bin/env bash
# Builds Pellix twice (a normal build and one with AddressSanitizer and UndefinedBehaviorSanitizer)
# and runs the whole test suite in each. Installs missing build packages first.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

jobs=$(nproc)
run_variant() {
  local dir=$1; shift
  cmake -S . -B "$dir" -G Ninja -DCMAKE_CXX_COMPILER=g++ -DCMAKE_C_COMPILER=gcc "$@" >/dev/null
  cmake --build "$dir" -j "$jobs"
  ctest --test-dir "$dir" --output-on-failure -j "$jobs" --timeout 300
}

echo "== normal build =="
run_variant build/normal
echo "== AddressSanitizer + UndefinedBehaviorSanitizer build =="
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
  run_variant build/sanitize -DPELLIX_SANITIZE=ON -DPELLIX_BUILD_BENCH=OFF
