#!/usr/bin/env bash
# Builds Pellix and runs the whole test suite: a normal build, a build with AddressSanitizer and
# UndefinedBehaviorSanitizer, one with ThreadSanitizer, and a clang build of the whole tree that
# checks the lock annotations (every warning an error) and runs the fuzz targets (agent replies,
# the camera's WSDL and SOAP responses) under libFuzzer for a bounded number of runs. Installs
# missing build packages first.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

jobs=$(nproc)
passed=0
# Runs ctest with the given arguments and counts the tests it passed (it stops the script on any
# failure, so every counted test passed).
run_ctest() {
  local log
  log=$(mktemp)
  ctest "$@" | tee "$log"
  passed=$((passed + $(sed -n 's/.*tests passed, 0 tests failed out of \([0-9]*\).*/\1/p' "$log" | tail -n 1)))
  rm -f "$log"
}

# Runs the Python package's tests (pytest, with Debian's interpreter, where python3-numpy and
# python3-pytest are installed) over the normal build, and counts what passed. A test that hangs
# fails after five minutes with every thread's stack, rather than holding up the whole command.
run_pytest() {
  local log
  log=$(mktemp)
  PYTHONDONTWRITEBYTECODE=1 /usr/bin/python3 -m pytest -q -p no:cacheprovider --timeout=300 --timeout-method=thread tests/python | tee "$log"
  passed=$((passed + $(sed -n 's/^\([0-9]*\) passed.*/\1/p' "$log" | tail -n 1)))
  rm -f "$log"
}

configure() {
  local dir=$1; shift
  cmake -S . -B "$dir" -G Ninja "$@" >/dev/null
}

echo "== normal build =="
configure build/normal -DCMAKE_CXX_COMPILER=g++ -DCMAKE_C_COMPILER=gcc
cmake --build build/normal -j "$jobs"
run_ctest --test-dir build/normal --output-on-failure -j "$jobs" --timeout 300

echo "== Python package over the normal build =="
PELLIX_LIBRARY="$PWD/build/normal/client/libpellix.so.4" run_pytest

echo "== AddressSanitizer + UndefinedBehaviorSanitizer build =="
configure build/sanitize -DCMAKE_CXX_COMPILER=g++ -DCMAKE_C_COMPILER=gcc -DPELLIX_SANITIZE=ON -DPELLIX_BUILD_BENCH=OFF
cmake --build build/sanitize -j "$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
  run_ctest --test-dir build/sanitize --output-on-failure -j "$jobs" --timeout 300

echo "== ThreadSanitizer build =="
configure build/tsan -DCMAKE_CXX_COMPILER=g++ -DCMAKE_C_COMPILER=gcc -DPELLIX_TSAN=ON -DPELLIX_BUILD_BENCH=OFF
cmake --build build/tsan -j "$jobs"
TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
  run_ctest --test-dir build/tsan --output-on-failure -j "$jobs" --timeout 300

echo "== clang: lock annotations checked (-Wthread-safety -Werror), libFuzzer on the agent replies and the WSDL and SOAP readers =="
configure build/fuzz -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang -DPELLIX_FUZZ=ON -DPELLIX_THREAD_SAFETY=ON \
  -DPELLIX_BUILD_BENCH=OFF
cmake --build build/fuzz -j "$jobs"
for target in client_reply_fuzz channel_reply_fuzz wsdl_soap_fuzz; do
  "build/fuzz/fuzz/$target" -runs=20000 -seed=1 -max_len=65536 2>&1 | tail -n 1
  passed=$((passed + 1))
done

echo "total: $passed passed, 0 failed"
