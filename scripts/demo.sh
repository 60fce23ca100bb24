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
# --windows does the same with the Windows DLL in the Windows host under Wine: WGL on Mesa's
# llvmpipe through a private Xvfb, Media Foundation through Wine's GStreamer decoder, a
# wineserver of its own started inside the host namespace (tests/support/in-wine.sh). The
# phone is still the Linux emulator. The frame is the stream's size, 960x540 by default: the
# largest that Wine's software decoder and llvmpipe keep up with on two cores, next to the
# emulator's encoder (every picture shown at 30 a second, no frame late at 60; 1280x720
# loses a few per cent of them, 1920x1080 a third). Output goes to out/demo-windows/.
#
#   scripts/demo.sh [--windows] [--codec h264|hevc] [--size WxH] [--duration S]
#                   [--fit fit|fill|stretch] [--phone ADDRESS] [--out DIR]
#                   [--no-build [--linux-build DIR] [--windows-build DIR]]
#
# --phone ADDRESS skips the emulator and the namespaces and shows a real phone at ADDRESS on
# the machine's own network (the clip then also broadcasts discovery probes there).
# --no-build installs and builds nothing and takes the programs from the given build folders
# (default build/release and build/windows; the Windows one needs its Wine prefix,
# scripts/wine-prefix.sh): how the Windows build's tests run the demo.
# Needs root.
set -eu
cd "$(dirname "$0")/.."

platform=linux
codec=h264
size=""
duration=20
fit=fit
phone=""
out=""
build_them=1
linux_build=build/release
windows_build=build/windows
usage() {
  echo "usage: scripts/demo.sh [--windows] [--codec h264|hevc] [--size WxH] [--duration S]" \
    "[--fit fit|fill|stretch] [--phone ADDRESS] [--out DIR]" \
    "[--no-build [--linux-build DIR] [--windows-build DIR]]" >&2
  exit 2
}
while [ $# -gt 0 ]; do
  case "$1" in
    --windows) platform=windows; shift; continue ;;
    --no-build) build_them=0; shift; continue ;;
  esac
  [ $# -ge 2 ] || usage
  case "$1" in
    --codec) codec=$2 ;;
    --size) size=$2 ;;
    --duration) duration=$2 ;;
    --fit) fit=$2 ;;
    --phone) phone=$2 ;;
    --out) out=$2 ;;
    --linux-build) linux_build=$2 ;;
    --windows-build) windows_build=$2 ;;
    *) usage ;;
  esac
  shift 2
done
if [ -z "$size" ]; then
  if [ "$platform" = windows ]; then size=960x540; else size=1920x1080; fi
fi
if [ -z "$out" ]; then
  if [ "$platform" = windows ]; then out=out/demo-windows; else out=out/demo; fi
fi
case "$codec" in h264|hevc) ;; *) echo "demo: --codec is h264 or hevc" >&2; exit 2 ;; esac
case "$fit" in fit|fill|stretch) ;; *) echo "demo: --fit is fit, fill or stretch" >&2; exit 2 ;; esac
echo "$size" | grep -Eq '^[0-9]+x[0-9]+$' || { echo "demo: --size is WxH" >&2; exit 2; }
echo "$duration" | grep -Eq '^[0-9]+$' && [ "$duration" -ge 1 ] && [ "$duration" -le 600 ] ||
  { echo "demo: --duration is 1 to 600 seconds" >&2; exit 2; }
if [ "$(id -u)" -ne 0 ]; then
  echo "demo: needs root (it makes network namespaces)" >&2
  exit 1
fi

if [ "$build_them" = 1 ]; then
  if [ "$platform" = windows ]; then
    scripts/install-deps.sh --linux --windows --wine
  else
    scripts/install-deps.sh
  fi
  echo "=== configure $linux_build"
  cmake -S . -B "$linux_build" -DMIRANDEL_WERROR=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  echo "=== build"
  # The Windows run takes only the phone emulator from here, and the host for the phone
  # side's clock offset.
  cmake --build "$linux_build" -j "$(nproc)" --target MirandelLink mirandel-host mirandel-phone
  if [ "$platform" = windows ]; then
    echo "=== build the Windows DLL and host ($windows_build)"
    TARGETS="MirandelLink mirandel-host" scripts/build-windows.sh
    scripts/wine-prefix.sh "$windows_build/wine-prefix"
  fi
fi
phone_program=$linux_build/tools/phone/mirandel-phone
needed="$phone_program $linux_build/tools/host/mirandel-host"
if [ "$platform" = windows ]; then
  needed="$needed $windows_build/MirandelLink.dll $windows_build/tools/host/mirandel-host.exe"
else
  needed="$needed $linux_build/MirandelLink.so"
fi
for f in $needed; do
  [ -f "$f" ] || { echo "demo: $f is missing (build it, or leave out --no-build)" >&2; exit 1; }
done

mkdir -p "$out"
rm -f "$out"/snapshot-*.png
host_options="--run $duration --fps 60 --fit $fit --snapshots $out/snapshot-
  --latency-log $out/latency.txt --first-picture-timeout 20"
if [ "$platform" = windows ]; then
  host_cmd="tests/support/in-wine.sh --prefix $windows_build/wine-prefix --display
    $windows_build/tools/host/mirandel-host.exe $windows_build/MirandelLink.dll $host_options
    --viewport $size"
else
  host_cmd="$linux_build/tools/host/mirandel-host $linux_build/MirandelLink.so $host_options
    --viewport 1920x1080"
fi
# Every process is bounded: a stuck one cannot hang the demo.
limit=$((duration + 40))

# run_host [ip netns exec NS]: the host command, bounded, its status kept. Windows programs
# end their lines with CR LF; the terminal gets them as Linux programs print them.
run_host() {
  status=0
  if [ "$platform" = windows ]; then
    rm -f "$out/host.status"
    # shellcheck disable=SC2086
    { "$@" timeout -k 5 "$limit" $host_cmd || echo $? >"$out/host.status"; } | tr -d '\r'
    [ ! -f "$out/host.status" ] || status=$(cat "$out/host.status")
  else
    # shellcheck disable=SC2086
    "$@" timeout -k 5 "$limit" $host_cmd || status=$?
  fi
}

if [ -n "$phone" ]; then
  echo "=== real phone at $phone, on this machine's network"
  host_cmd="$host_cmd --phone-ip $phone"
  run_host env
  exit "$status"
fi

if [ "$platform" = windows ]; then
  # Under Wine the host's steady clock is CLOCK_MONOTONIC_RAW, not the emulator's
  # CLOCK_MONOTONIC; its stamps reach the host through the system clock that both share
  # (tools/host/ClockOffset.h).
  host_cmd="$host_cmd --phone-clock-offset $("$linux_build/tools/host/mirandel-host" --clock-offset)"
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
ip netns exec "$ns_phone" timeout -k 5 "$limit" "$phone_program" \
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

if [ "$platform" = windows ]; then
  echo "=== host: the Windows DLL in the Windows host under Wine, drawing for $duration s"
else
  echo "=== host: plug-in in the headless host, drawing for $duration s"
fi
run_host ip netns exec "$ns_host"
echo "=== phone side (last lines of $out/phone.log)"
tail -n 4 "$out/phone.log"
exit "$status"
