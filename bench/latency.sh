#!/bin/sh
# Glass-to-glass latency, plug-in against FFmpeg, in a private network namespace with only
# loopback up (the sender, the plug-in's discovery probes and FFmpeg never reach a real
# network). Builds bench_latency into BUILD (default build/release) first.
#   bench/latency.sh [BUILD] [benchmark flags...]
# MIRANDEL_LATENCY_SECONDS sets the measured time per side (default 10).
set -eu
cd "$(dirname "$0")/.."
build=${1:-build/release}
[ $# -gt 0 ] && shift
cmake -S . -B "$build" -DMIRANDEL_WERROR=ON >/dev/null
cmake --build "$build" -j 2 --target bench_latency MirandelLink
exec unshare --net sh -c 'ip link set lo up && exec "$@"' latency \
  "$build/bench/bench_latency" "$@"
