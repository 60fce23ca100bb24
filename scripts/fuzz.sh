#!/bin/sh
# Builds the libFuzzer targets with clang in build/fuzz and fuzzes each one in turn.
#
#   scripts/fuzz.sh [TARGET ...]                the CI form: FUZZ_SECONDS (default 20) each
#   scripts/fuzz.sh --long [MINUTES] [TARGET ...]
#                                               the long form: MINUTES (default 15) each
#
# Without TARGET every fuzz_* target of fuzz/CMakeLists.txt runs. FUZZ_WORKERS (default 1)
# fuzzes a target with that many processes (libFuzzer's -fork); FUZZ_JOBS (default 2) is the
# build's parallelism.
#
# Seeds: the small hand-made inputs in fuzz/corpus/<name>/ and, made afresh before every run
# by make_fuzz_seeds (fuzz/make_seeds.cpp), inputs from real data in build/fuzz/seeds/<name>/:
# FFmpeg-made and phone-emulator-made transport streams with their access units and parameter
# sets, the emulator's rack answers, and the datagrams of a session with the emulator captured
# on loopback in a private network namespace (skipped, with a note, where none can be made).
# <name> is the target's name without "fuzz_".
#
# The corpus of each target grows in build/fuzz-corpus/<target>/ and is kept between runs, so
# every run starts where the last one stopped. An input that fails is saved in
# build/fuzz-crashes/<target>/ (libFuzzer's crash-, leak-, timeout- or oom- file) and the run
# fails; keep it as a seed in fuzz/corpus/<name>/ with the fix. The log of each run is
# build/fuzz/<target>.log. For every target the script prints the executions, the coverage
# (edges and features) and the corpus size.
set -eu
cd "$(dirname "$0")/.."
ROOT=$(pwd)
BUILD=$ROOT/build/fuzz
CORPORA=$ROOT/build/fuzz-corpus
CRASHES=$ROOT/build/fuzz-crashes
JOBS=${FUZZ_JOBS:-2}
WORKERS=${FUZZ_WORKERS:-1}

seconds=${FUZZ_SECONDS:-20}
long=0
if [ "${1:-}" = --long ]; then
  long=1
  shift
  minutes=15
  case "${1:-}" in [0-9]*) minutes=$1; shift ;; esac
  seconds=$((minutes * 60))
fi

CC=clang CXX=clang++ cmake -S "$ROOT" -B "$BUILD" -DMIRANDEL_BUILD_FUZZ=ON \
  -DMIRANDEL_BUILD_TESTS=OFF -DMIRANDEL_BUILD_BENCH=OFF \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null

targets="$*"
[ -n "$targets" ] ||
  targets=$(sed -n 's/^mirandel_fuzz_target(\(fuzz_[A-Za-z0-9_]*\).*/\1/p' fuzz/CMakeLists.txt)

# Seeds from real data.
seeds=$BUILD/seeds
rm -rf "$seeds"
if cmake --build "$BUILD" --target make_fuzz_seeds -j "$JOBS" >"$BUILD/seeds.build.log" 2>&1; then
  streams=$BUILD/streams
  tests/video/demux_fixtures.sh "$streams" 8 128x72 >"$BUILD/seeds.log" 2>&1 ||
    { echo "FFmpeg made no streams, see $BUILD/seeds.log"; exit 1; }
  # The captured session needs a private network namespace of its own.
  wrap="tests/support/in-netns.sh" capture=--capture
  if ! $wrap true 2>/dev/null; then
    echo "no private network namespace here: no captured session among the seeds"
    wrap= capture=
  fi
  # shellcheck disable=SC2086
  $wrap "$BUILD/fuzz/make_fuzz_seeds" "$seeds" tools/phone/racks/sample.json \
    "$streams"/*.ts $capture >>"$BUILD/seeds.log" 2>&1 ||
    { echo "the seed maker failed, see $BUILD/seeds.log"; exit 1; }
else
  echo "the seed maker did not build, see $BUILD/seeds.build.log"
  exit 1
fi

status=0
for t in $targets; do
  echo "=== fuzz $t (${seconds} s)"
  if ! cmake --build "$BUILD" --target "$t" -j "$JOBS" >"$BUILD/$t.build.log" 2>&1; then
    echo "build of $t failed, see $BUILD/$t.build.log"
    status=1
    continue
  fi
  name=${t#fuzz_}
  corpus=$CORPORA/$t
  mkdir -p "$corpus" "$CRASHES/$t"
  dirs=
  for d in "$ROOT/fuzz/corpus/$name" "$seeds/$name"; do
    [ -d "$d" ] && dirs="$dirs $d"
  done
  parallel=
  [ "$WORKERS" -gt 1 ] && parallel="-fork=$WORKERS -ignore_crashes=0"
  # A unit that takes more than 25 s counts as a hang: no input of a few kilobytes may.
  # shellcheck disable=SC2086
  if ! "$BUILD/fuzz/$t" -max_total_time="$seconds" -timeout=25 -print_final_stats=1 \
      -artifact_prefix="$CRASHES/$t/" $parallel "$corpus" $dirs >"$BUILD/$t.log" 2>&1; then
    echo "$t found a failure (input saved in $CRASHES/$t/):"
    tail -40 "$BUILD/$t.log"
    status=1
    continue
  fi
  executed=$(sed -n 's/^stat::number_of_executed_units: *//p' "$BUILD/$t.log" | tail -1)
  final=$(grep -E '^#[0-9]+' "$BUILD/$t.log" | tail -1)
  edges=$(echo "$final" | sed -n 's/.* cov: \([0-9]*\).*/\1/p')
  features=$(echo "$final" | sed -n 's/.* ft: \([0-9]*\).*/\1/p')
  echo "$t: ${executed:-?} executions in $seconds s, coverage ${edges:-?} edges" \
    "${features:-?} features, corpus $(ls "$corpus" | wc -l) inputs"
done
[ $long = 1 ] && echo "corpora kept in $CORPORA"
exit $status
