#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: a normal build, a build with
# AddressSanitizer and UndefinedBehaviorSanitizer, a ThreadSanitizer build of the engine's
# tests, and a bounded fuzzing run of the listing parser. Exits non-zero on any failure.
set -euo pipefail
cd "$(dirname "$0")"
root=$(pwd)
jobs=$(nproc 2>/dev/null || echo 2)

tools/install-deps.sh

export QT_QPA_PLATFORM=offscreen
export QTEST_FUNCTION_TIMEOUT=240000

run_suite() { # build-dir, extra ctest args...
  local dir=$1; shift
  dbus-run-session -- ctest --test-dir "$dir" --output-on-failure -j "$jobs" "$@"
}

echo "== listing parser fuzzing"
mkdir -p build/fuzz
clang++ -std=c++20 -O1 -g -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all \
  -I. tests/fuzz/fuzz_ftpparse.cpp ftp/ftpparse.cpp -o build/fuzz/fuzz_ftpparse
mkdir -p build/fuzz/corpus
build/fuzz/fuzz_ftpparse -runs=1000000 -max_len=512 -seed=1 build/fuzz/corpus tests/fuzz/seeds 2>&1 | tail -n 3

echo "== normal build"
cmake -S . -B build/normal -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/normal -j "$jobs"
run_suite build/normal

echo "== AddressSanitizer + UndefinedBehaviorSanitizer build"
cmake -S . -B build/asan -DCMAKE_BUILD_TYPE=Debug -DZODARU_SANITIZE=ON >/dev/null
cmake --build build/asan -j "$jobs"
ASAN_OPTIONS=detect_leaks=0:abort_on_error=1:strict_string_checks=1 \
UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
  run_suite build/asan

echo "== ThreadSanitizer build (engine)"
cmake -S . -B build/tsan -DCMAKE_BUILD_TYPE=Debug -DZODARU_TSAN=ON >/dev/null
cmake --build build/tsan -j "$jobs"
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 die_after_fork=0 suppressions=$root/tests/tsan.supp" \
  run_suite build/tsan -L ftp

