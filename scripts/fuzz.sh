#!/bin/sh
# Builds every libFuzzer target with clang in build/fuzz and runs each for a
# bounded time (FUZZ_SECONDS, default 20). Seed inputs come from
# fuzz/corpus/<target without "fuzz_">/ when present; new finds stay in
# build/fuzz/corpus/. Fails when a target does not build or finds a crash.
set -eu
cd "$(dirname "$0")/.."
ROOT=$(pwd)
BUILD=$ROOT/build/fuzz
SECONDS_EACH=${FUZZ_SECONDS:-20}
JOBS=${FUZZ_JOBS:-2}

CC=clang CXX=clang++ cmake -S "$ROOT" -B "$BUILD" -DMIRANDEL_BUILD_FUZZ=ON \
  -DMIRANDEL_BUILD_TESTS=OFF -DMIRANDEL_BUILD_BENCH=OFF -DMIRANDEL_BUILD_TOOLS=OFF \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null

targets=$(sed -n 's/^add_executable(\(fuzz_[A-Za-z0-9_]*\).*/\1/p' fuzz/CMakeLists.txt)
status=0
for t in $targets; do
  echo "=== fuzz $t (${SECONDS_EACH}s)"
  if ! cmake --build "$BUILD" --target "$t" -j "$JOBS" >"$BUILD/$t.build.log" 2>&1; then
    echo "build of $t failed, see $BUILD/$t.build.log"
    status=1
    continue
  fi
  corpus=$BUILD/corpus/$t
  mkdir -p "$corpus"
  seeds=$ROOT/fuzz/corpus/${t#fuzz_}
  [ -d "$seeds" ] || seeds=
  if ! (cd "$BUILD" && "./fuzz/$t" -max_total_time="$SECONDS_EACH" -print_final_stats=1 \
        "$corpus" $seeds >"$BUILD/$t.log" 2>&1); then
    echo "$t found a failure:"
    tail -40 "$BUILD/$t.log"
    status=1
  else
    grep -E "stat::number_of_executed_units|cov:" "$BUILD/$t.log" | tail -2
  fi
done
exit $status
