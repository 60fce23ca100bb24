#!/bin/sh
# The main job: installs dependencies, builds the plug-in, the headless host and the phone
# side, then shows an emulated phone's live camera through the plug-in end to end.
#
# Two private network namespaces made here, "phone" and "host", are joined by one link-local
# veth pair (169.254.77.2 and 169.254.77.1) and nothing else, so the discovery broadcasts and
# the stream never leave them. In the phone namespace the emulator answers discovery over a
# wired route and, when the clip asks for it, streams a stamped moving test pattern over SRT.
# In the host namespace the headless host loads the plug-in, creates one clip, lets it
# discover and connect by itself, and draws it at 60 fps into a 1920x1080 frame, printing the
# clip's "Status", "FPS" and "Picture" texts as they change. It writes snapshots to
# out/demo/snapshot-N.png and ends with a summary: pictures shown, frames drawn, receive to
# decoded times and the glass-to-glass latency read from the stamps in the drawn pixels.
#
#   scripts/demo.sh [--codec h264|hevc] [--size WxH] [--duration S] [--fit fit|fill|stretch]
#                   [--phone ADDRESS]
#
# --phone ADDRESS skips the emulator and the namespaces and shows a real phone at ADDRESS on
# the machine's own network (the clip then also broadcasts discovery probes there).
# Needs root.
set -eu
cd "$(dirname "$0")/.."

codec=h264
size=1920x1080
duration=20
fit=fit
phone=""
usage() {
  echo "usage: scripts/demo.sh [--codec h264|hevc] [--size WxH] [--duration S]" \
    "[--fit fit|fill|stretch] [--phone ADDRESS]" >&2
  exit 2
}
while [ $# -gt 0 ]; do
  [ $# -ge 2 ] || usage
  case "$1" in
    --codec) codec=$2 ;;
    --size) size=$2 ;;
    --duration) duration=$2 ;;
    --fit) fit=$2 ;;
    --phone) phone=$2 ;;
    *) usage ;;
  esac
  shift 2
done
case "$codec" in h264|hevc) ;; *) echo "demo: --codec is h264 or hevc" >&2; exit 2 ;; esac
case "$fit" in fit|fill|stretch) ;; *) echo "demo: --fit is fit, fill or stretch" >&2; exit 2 ;; esac
echo "$size" | grep -Eq '^[0-9]+x[0-9]+$' || { echo "demo: --size is WxH" >&2; exit 2; }
echo "$duration" | grep -Eq '^[0-9]+$' && [ "$duration" -ge 1 ] && [ "$duration" -le 600 ] ||
  { echo "demo: --duration is 1 to 600 seconds" >&2; exit 2; }
if [ "$(id -u)" -ne 0 ]; then
  echo "demo: needs root (it makes network namespaces)" >&2
  exit 1
fi

scripts/install-deps.sh

build=build/release
echo "=== configure $build"
cmake -S . -B "$build" -DMIRANDEL_WERROR=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
echo "=== build"
cmake --build "$build" -j "$(nproc)" --target MirandelLink mirandel-host mirandel-phone

out=out/demo
mkdir -p "$out"
rm -f "$out"/snapshot-*.png
host_cmd="$build/tools/host/mirandel-host $build/MirandelLink.so --run $duration --fps 60
  --viewport 1920x1080 --fit $fit --snapshots $out/snapshot- --latency-log $out/latency.txt
  --first-picture-timeout 20"
# Every process is bounded: a stuck one cannot hang the demo.
limit=$((duration + 40))

if [ -n "$phone" ]; then
  echo "=== real phone at $phone, on this machine's network"
  # shellcheck disable=SC2086
  exec timeout -k 5 "$limit" $host_cmd --phone-ip "$phone"
fi

tag=$$
ns_phone=mirandel-demo-phone-$tag
ns_host=mirandel-demo-host-$tag
phone_pid=""
cleanup() {
  if [ -n "$phone_pid" ]; then
    kill "$phone_pid" 2>/dev/null || true
    wait "$phone_pid" 2>/dev/null || true
  fi
  ip netns del "$ns_host" 2>/dev/null || true
  ip netns del "$ns_phone" 2>/dev/null || true
}
trap cleanup EXIT
trap 'exit 130' INT TERM

echo "=== namespaces $ns_phone and $ns_host, joined by a link-local veth pair"
ip netns add "$ns_phone"
ip netns add "$ns_host"
ip -n "$ns_phone" link set lo up
ip -n "$ns_host" link set lo up
# Made inside the host namespace with its peer moved straight into the phone namespace, so
# no interface ever appears in the machine's own namespace.
ip -n "$ns_host" link add veth-host type veth peer name veth-phone netns "$ns_phone"
ip -n "$ns_host" addr add 169.254.77.1/16 broadcast 169.254.255.255 dev veth-host
ip -n "$ns_phone" addr add 169.254.77.2/16 broadcast 169.254.255.255 dev veth-phone
ip -n "$ns_host" link set veth-host up
ip -n "$ns_phone" link set veth-phone up

echo "=== phone: emulator streaming $size $codec (log: $out/phone.log)"
ip netns exec "$ns_phone" timeout -k 5 "$limit" "$build/tools/phone/mirandel-phone" \
  --name "Mirandel Demo Phone" --link wired --codec "$codec" --size "$size" --fps 30 \
  --bitrate 6000 >"$out/phone.log" 2>&1 &
phone_pid=$!
tries=0
until grep -q "listening" "$out/phone.log" 2>/dev/null; do
  tries=$((tries + 1))
  if [ "$tries" -gt 100 ] || ! kill -0 "$phone_pid" 2>/dev/null; then
    echo "demo: the phone emulator did not start:" >&2
    cat "$out/phone.log" >&2
    exit 1
  fi
  sleep 0.1
done

echo "=== host: plug-in in the headless host, drawing for $duration s"
status=0
# shellcheck disable=SC2086
ip netns exec "$ns_host" timeout -k 5 "$limit" $host_cmd || status=$?
echo "=== phone side (last lines of $out/phone.log)"
tail -n 4 "$out/phone.log"
exit "$status"
