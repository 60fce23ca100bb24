#!/bin/sh
# The whole test suite: installs dependencies, builds and runs every test in
# a normal build, then again in an AddressSanitizer + UndefinedBehaviorSanitizer
# build. Networked tests make their own private network namespaces (needs root).
set -eu
cd "$(dirname "$0")/.."
ROOT=$(pwd)
JOBS=$(nproc)

scripts/install-deps.sh

run_suite() {
  dir=$1; shift
  echo "=== configure $dir"
  cmake -S "$ROOT" -B "$dir" -DMIRANDEL_WERROR=ON "$@" >/dev/null
  echo "=== build $dir"
  cmake --build "$dir" -j "$JOBS"
  echo "=== test $dir"
  (cd "$dir" && ctest --output-on-failure -j "$JOBS" --timeout 300)
}

run_suite build/release -DCMAKE_BUILD_TYPE=RelWithDebInfo
run_suite build/asan -DCMAKE_BUILD_TYPE=Debug -DMIRANDEL_SANITIZE=address,undefined \
  -DMIRANDEL_BUILD_BENCH=OFF
