#!/bin/sh
# The soak: several clips streaming at once, each from its own emulated phone through a fault
# relay, into ONE headless host process that draws all of them at 60 fps, for a set time.
#
#   scripts/soak.sh [--clips N] [--duration S] [--size WxH] [--loss PCT] [--jitter MS]
#                   [--blackout-at S --blackout-for S] [--latency MS] [--bitrate KBPS]
#                   [--seed N] [--out DIR] [--no-build] [--build DIR]
#
# Namespaces, all made here and removed at the end: one for the host, and one per phone,
# joined to the host's by a veth pair of its own (phone K is 10.79.K.2, the host's end
# 10.79.K.1). Nothing else is connected, so discovery broadcasts and streams stay inside.
#
# Where the relay sits: in each phone's namespace, in front of the emulator. The emulator's
# SRT listener is on port 9011 and the relay listens on the phone's address at 9010, the port
# the clip calls, forwarding to 127.0.0.1:9011. So the clip's whole SRT path, both ways,
# crosses the relay, while the control messages (UDP 9000/9001) go straight to the phone as
# they would on a network where only the video suffers: a relay between two addresses cannot
# carry the control channel, whose replies go to a fixed port of the sender. One relay per
# clip gives each its own loss pattern (seeded --seed + K - 1) and its own counters.
#
# Each clip gets its phone's address typed into "Phone IP" (the phones have identities of
# their own, so no clip moves to another's phone). --latency sets every clip's "Latency", the
# SRT receive latency (20 to 500 ms; the clip's default is 40): what a VJ raises on a network
# whose jitter eats that budget, since SRT gives up on whatever comes later. The phones draw
# their stamp in both corners (mirandel-phone --second-stamp): the host reads both back from
# every picture drawn and counts a picture whose corners disagree, or that shows no readable
# stamp, as damaged.
#
# Figures (the host's summary): per clip, pictures sent (the stamp numbers spanned), decoded
# (the "Picture" text's fps figure added up once a second), shown (distinct stamps drawn),
# units dropped (sent but never decoded), damaged pictures shown, reconnects ("reconnecting"
# in the "Picture" text) and glass-to-glass latency; for the host process alone its CPU time
# and peak resident memory, read by the process itself, so the phones' encoders and the
# relays, separate processes, stay out of them. Then the CPU those took on the same cores,
# each relay's counters, a chart of latency and memory over time (DIR/soak.png, gnuplot),
# and last exactly one line per clip and one for the run:
#   clip K: shown P, damaged D, reconnects R, p95 L ms
#   soak: N clips, P pictures shown, D damaged, peak memory M MB
#
# It answers 0 when every clip showed pictures, none damaged, and every clip still showed new
# pictures in the last 3 s of the run (after any blackout). --blackout-at counts from the
# relays' start, just before the host's; the blackout must end 8 s before the run does, time
# for the link to be found lost and made again. Needs root.
set -eu
cd "$(dirname "$0")/.."

clips=4
duration=60
size=640x360
loss=0
jitter=0
blackout_at=""
blackout_for=""
bitrate=1500
latency=""
seed=1
out=out/soak
build_them=1
build=build/release
usage() {
  echo "usage: scripts/soak.sh [--clips N] [--duration S] [--size WxH] [--loss PCT]" \
    "[--jitter MS] [--blackout-at S --blackout-for S] [--latency MS] [--bitrate KBPS] [--seed N]" \
    "[--out DIR] [--no-build] [--build DIR]" >&2
  exit 2
}
while [ $# -gt 0 ]; do
  case "$1" in
    --no-build) build_them=0; shift; continue ;;
  esac
  [ $# -ge 2 ] || usage
  case "$1" in
    --clips) clips=$2 ;;
    --duration) duration=$2 ;;
    --size) size=$2 ;;
    --loss) loss=$2 ;;
    --jitter) jitter=$2 ;;
    --blackout-at) blackout_at=$2 ;;
    --blackout-for) blackout_for=$2 ;;
    --bitrate) bitrate=$2 ;;
    --latency) latency=$2 ;;
    --seed) seed=$2 ;;
    --out) out=$2 ;;
    --build) build=$2 ;;
    *) usage ;;
  esac
  shift 2
done
whole() { echo "$1" | grep -Eq '^[0-9]+$'; }
number() { echo "$1" | grep -Eq '^[0-9]+(\.[0-9]+)?$'; }
whole "$clips" && [ "$clips" -ge 1 ] && [ "$clips" -le 16 ] ||
  { echo "soak: --clips is 1 to 16" >&2; exit 2; }
whole "$duration" && [ "$duration" -ge 10 ] && [ "$duration" -le 86400 ] ||
  { echo "soak: --duration is 10 to 86400 seconds" >&2; exit 2; }
echo "$size" | grep -Eq '^[0-9]+x[0-9]+$' || { echo "soak: --size is WxH" >&2; exit 2; }
number "$loss" && number "$jitter" || { echo "soak: --loss and --jitter are numbers" >&2; exit 2; }
whole "$bitrate" && whole "$seed" || { echo "soak: --bitrate and --seed are whole" >&2; exit 2; }
if [ -n "$blackout_at$blackout_for" ]; then
  whole "$blackout_at" && whole "$blackout_for" ||
    { echo "soak: --blackout-at and --blackout-for go together, in whole seconds" >&2; exit 2; }
  [ $((blackout_at + blackout_for + 8)) -le "$duration" ] ||
    { echo "soak: the blackout must end 8 s before the run does" >&2; exit 2; }
fi
host_params=""
if [ -n "$latency" ]; then
  whole "$latency" && [ "$latency" -ge 20 ] && [ "$latency" -le 500 ] ||
    { echo "soak: --latency is 20 to 500 ms" >&2; exit 2; }
  # The parameter runs from 0 to 1 over 20 to 500 ms.
  host_params="--param Latency=$(awk -v ms="$latency" 'BEGIN { printf "%.6f", (ms - 20) / 480 }')"
fi
if [ "$(id -u)" -ne 0 ]; then
  echo "soak: needs root (it makes network namespaces)" >&2
  exit 1
fi

if [ "$build_them" = 1 ]; then
  scripts/install-deps.sh
  echo "=== configure $build"
  cmake -S . -B "$build" -DMIRANDEL_WERROR=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  echo "=== build"
  cmake --build "$build" -j "$(nproc)" --target MirandelLink mirandel-host mirandel-phone \
    mirandel-relay
fi
relay=$build/tools/relay/mirandel-relay
phone_program=$build/tools/phone/mirandel-phone
host_program=$build/tools/host/mirandel-host
for f in "$phone_program" "$host_program" "$build/MirandelLink.so" "$relay"; do
  [ -x "$f" ] || [ -f "$f" ] ||
    { echo "soak: $f is missing (build it, or leave out --no-build)" >&2; exit 1; }
done

mkdir -p "$out"
rm -f "$out"/*.log "$out"/timeline.txt "$out"/latency.txt "$out"/soak.png
# Every process is bounded: a stuck one cannot hang the soak.
limit=$((duration + 60))

tag=$$
ns_host=mirandel-soak-host-$tag
pids=""
relay_pids=""
cleanup() {
  for p in $relay_pids $pids; do kill "$p" 2>/dev/null || true; done
  for p in $relay_pids $pids; do wait "$p" 2>/dev/null || true; done
  k=1
  while [ "$k" -le "$clips" ]; do
    ip netns del "mirandel-soak-phone$k-$tag" 2>/dev/null || true
    k=$((k + 1))
  done
  ip netns del "$ns_host" 2>/dev/null || true
}
trap cleanup EXIT
trap 'exit 130' INT TERM

faults="--loss $loss --jitter $jitter"
[ -z "$blackout_at" ] || faults="$faults --blackout-at $blackout_at --blackout-for $blackout_for"
echo "=== $clips phones streaming $size H.264 at $bitrate kb/s, each through a relay ($faults)"
[ -z "$latency" ] || echo "=== the clips' SRT latency: $latency ms"
ip netns add "$ns_host"
ip -n "$ns_host" link set lo up
addresses=""
started=$(date +%s)
k=1
while [ "$k" -le "$clips" ]; do
  ns=mirandel-soak-phone$k-$tag
  ip netns add "$ns"
  ip -n "$ns" link set lo up
  # Made inside the host namespace with its peer moved straight into the phone's, so no
  # interface ever appears in the machine's own namespace.
  ip -n "$ns_host" link add "veth$k" type veth peer name veth-phone netns "$ns"
  ip -n "$ns_host" addr add "10.79.$k.1/24" broadcast "10.79.$k.255" dev "veth$k"
  ip -n "$ns" addr add "10.79.$k.2/24" broadcast "10.79.$k.255" dev veth-phone
  ip -n "$ns_host" link set "veth$k" up
  ip -n "$ns" link set veth-phone up
  addresses="$addresses${addresses:+,}10.79.$k.2"

  ip netns exec "$ns" timeout -k 5 "$limit" "$phone_program" \
    --name "Soak Phone $k" --identity "mirandel-soak-phone-$k" --link wired \
    --codec h264 --size "$size" --fps 30 --bitrate "$bitrate" \
    --srt-port 9011 --stream-now --second-stamp >"$out/phone$k.log" 2>&1 &
  pids="$pids $!"
  # shellcheck disable=SC2086
  ip netns exec "$ns" timeout -k 5 "$limit" "$relay" \
    --listen "10.79.$k.2:9010" --to 127.0.0.1:9011 $faults --seed $((seed + k - 1)) \
    >"$out/relay$k.log" 2>&1 &
  relay_pids="$relay_pids $!"
  k=$((k + 1))
done
k=1
while [ "$k" -le "$clips" ]; do
  tries=0
  until grep -q "listening" "$out/phone$k.log" 2>/dev/null; do
    tries=$((tries + 1))
    if [ "$tries" -gt 100 ]; then
      echo "soak: phone $k did not start:" >&2
      cat "$out/phone$k.log" >&2
      exit 1
    fi
    sleep 0.1
  done
  k=$((k + 1))
done

echo "=== host: $clips clips in one headless host, drawing for $duration s (log: $out/host.log)"
status=0
# shellcheck disable=SC2086
ip netns exec "$ns_host" timeout -k 5 "$limit" "$host_program" "$build/MirandelLink.so" \
  $host_params --run "$duration" --fps 60 --clips "$clips" --phone-ip "$addresses" \
  --viewport "$size" --second-stamp --timeline "$out/timeline.txt" \
  --latency-log "$out/latency.txt" --first-picture-timeout 20 >"$out/host.log" 2>&1 || status=$?
# The host's figures; its texts as they changed and the plug-in's log stay in host.log.
sed -n '/^== clip 1$/,/^== host log$/p' "$out/host.log" |
  grep -Ev '^clip [0-9]+:|^all clips:|^== host log' || true
[ "$status" = 0 ] || echo "soak: the host answered $status (see $out/host.log)"

# What the phones and relays cost, each a process of its own (the program that timeout runs)
# and so outside the host's figures above, yet on the same cores: it shows how much of the
# machine the senders took.
cpu_of() {
  child=$(pgrep -P "$1" | head -n 1)
  if [ -n "$child" ] && [ -r "/proc/$child/stat" ]; then
    # User and system time, fields 14 and 15: the 12th and 13th after the command's name.
    sed 's/^.*) //' "/proc/$child/stat" |
      awk -v hz="$(getconf CLK_TCK)" -v s="$elapsed" \
        '{ t = ($12 + $13) / hz; printf "%.1f s (%.0f %% of one core)", t, 100 * t / s }'
  else
    echo "unknown"
  fi
}
elapsed=$(($(date +%s) - started))
echo "== senders: processes of their own, outside the host's figures; over $elapsed s"
# shellcheck disable=SC2086
set -- $pids
k=1
for r in $relay_pids; do
  echo "phone $k: CPU $(cpu_of "$1"); relay $k: CPU $(cpu_of "$r")"
  shift
  k=$((k + 1))
done

# The relays print their counters as they end.
for p in $relay_pids; do kill -TERM "$p" 2>/dev/null || true; done
for p in $relay_pids; do wait "$p" 2>/dev/null || true; done
relay_pids=""
echo "== relays (forward: the clip's packets to its phone; back: the phone's, the stream)"
k=1
while [ "$k" -le "$clips" ]; do
  # "relay forward: ...", "relay back: ...", "relay timing: ..." become "relay K forward: ...".
  if grep -q '^relay ' "$out/relay$k.log"; then
    grep '^relay ' "$out/relay$k.log" | sed "s/^relay /relay $k /"
  else
    echo "relay $k: no counters (see $out/relay$k.log)"
  fi
  k=$((k + 1))
done

# Live at the end: the timeline has a latency figure for the clip in each of the last three
# whole seconds.
k=1
while [ "$k" -le "$clips" ]; do
  if ! grep -v '^#' "$out/timeline.txt" 2>/dev/null |
    awk -v c=$((k + 3)) -v end="$duration" '$1 >= end - 3 && $1 < end {
        n++; if ($c == "NaN") bad = 1 } END { exit bad || n < 2 }'; then
    echo "soak: clip $k showed no new picture in the last 3 s"
    status=1
  fi
  k=$((k + 1))
done

if command -v gnuplot >/dev/null 2>&1 && [ -s "$out/timeline.txt" ]; then
  {
    echo 'set terminal pngcairo size 1200,800 font "sans,10"'
    echo "set output '$out/soak.png'"
    echo 'set multiplot layout 2,1 title "'"soak: $clips clips, $size, loss $loss %, jitter $jitter ms${blackout_at:+, blackout at $blackout_at s for $blackout_for s}${latency:+, SRT latency $latency ms}"'"'
    echo 'set grid'
    echo "set xrange [0:$duration]"
    # The same margins in both panels, so that their time axes line up.
    echo 'set lmargin at screen 0.08'
    echo 'set rmargin at screen 0.84'
    if [ -n "$blackout_at" ]; then
      echo "set object 1 rect from $blackout_at, graph 0 to $((blackout_at + blackout_for)), graph 1 fillcolor rgb '#e8e8e8' fillstyle solid noborder behind"
      echo "set label 1 'blackout' at $blackout_at, graph 0.95 offset 1,0"
    fi
    echo 'set key outside right'
    echo 'set ylabel "glass to glass, ms (median per second)"'
    printf 'plot'
    k=1
    while [ "$k" -le "$clips" ]; do
      [ "$k" = 1 ] || printf ','
      printf " '%s' using 1:%d with lines title 'clip %d'" "$out/timeline.txt" $((k + 3)) "$k"
      k=$((k + 1))
    done
    echo
    echo 'set xlabel "seconds"'
    echo 'set ylabel "resident memory, MB"'
    echo 'set y2label "CPU, % of one core"'
    echo 'set ytics nomirror'
    echo 'set y2tics'
    echo "plot '$out/timeline.txt' using 1:2 with lines lw 2 title 'memory', '' using 1:3 axes x1y2 with lines title 'CPU'"
    echo 'unset multiplot'
  } >"$out/soak.gnuplot"
  if gnuplot "$out/soak.gnuplot" 2>"$out/gnuplot.log"; then
    echo "chart: $out/soak.png"
  else
    echo "soak: gnuplot failed (see $out/gnuplot.log)"
  fi
else
  echo "soak: no chart (gnuplot is missing or no timeline was written)"
fi

grep -E '^clip [0-9]+: shown' "$out/host.log" || true
summary=$(grep '^all clips:' "$out/host.log" | sed 's/^all clips:/soak:/')
echo "${summary:-soak: $clips clips, no summary from the host}"
[ -n "$summary" ] || status=1
exit "$status"
