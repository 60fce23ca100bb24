#!/bin/sh
# The supervision step under a flood of forged datagrams and with very large rack
# descriptions, in a private network namespace with only loopback up (the clips' streams,
# the hub and the forged senders never reach a real network). Builds bench_supervision into
# BUILD (default build/release) first.
#   bench/supervision.sh [BUILD] [benchmark flags...]
set -eu
cd "$(dirname "$0")/.."
build=${1:-build/release}
[ $# -gt 0 ] && shift
cmake -S . -B "$build" -DMIRANDEL_WERROR=ON >/dev/null
cmake --build "$build" -j 2 --target bench_supervision
exec unshare --net sh -c 'ip link set lo up && exec "$@"' supervision \
  "$build/bench/bench_supervision" "$@"
