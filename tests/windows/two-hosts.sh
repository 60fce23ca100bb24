#!/bin/sh
# Two hosts for the Windows build's tests: the Linux phone emulator in a peer
# network namespace, joined to this one by two veth pairs, and a command here
# (a Windows test program through tests/support/in-wine.sh):
#   two-hosts.sh MIRANDEL_PHONE COMMAND [ARGS...]
#
#   this side  h0 169.254.1.1/16 --- p0 169.254.1.2/16  peer (link-local)
#              h1 10.77.0.1/24   --- p1 10.77.0.2/24    peer
#              default route by h1
#
# The emulator runs as --name "Linux phone" --identity phone-linux --link auto
# --stream-now --size 320x240; COMMAND gets its addresses in MIRANDEL_PEER_WIRED
# (169.254.1.2) and MIRANDEL_PEER_OTHER (10.77.0.2). The exit status is
# COMMAND's; the emulator's output follows a failure.
#
# Runs as root in a private network namespace of its own
# (tests/support/in-netns.sh), which it checks: the peer is made inside it and
# named in a private mount namespace, so parallel runs never meet and nothing
# sent reaches any other network.
set -eu
die() {
  echo "two-hosts: $*" >&2
  exit 2
}
if [ "${1:-}" != --private-mounts ]; then
  [ $# -ge 2 ] || die "usage: $0 MIRANDEL_PHONE COMMAND [ARGS...]"
  [ -x "$1" ] ||
    die "no phone emulator at '$1' (configure the Windows build with MIRANDEL_LINUX_BUILD, a Linux build folder with mirandel-phone built)"
  if ip -o link show | grep -qv ': lo:'; then
    die "this network namespace has interfaces besides loopback; run me through tests/support/in-netns.sh"
  fi
  exec unshare --mount --propagation private "$0" --private-mounts "$@"
fi
shift
phone=$1
shift

mkdir -p /run/netns
mount -t tmpfs tmpfs /run/netns
log=$(mktemp "${TMPDIR:-/tmp}/two-hosts.XXXXXX")
pid=""
# shellcheck disable=SC2317 # called by the trap
cleanup() {
  if [ -n "$pid" ]; then
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  fi
  rm -f "$log"
}
trap cleanup EXIT
trap 'exit 143' TERM INT

ip netns add phone
ip -n phone link set lo up
link() { # here-name here-cidr peer-name peer-cidr
  ip link add "$1" type veth peer name "$3" netns phone
  ip addr add "$2" brd + dev "$1"
  ip link set "$1" up
  ip -n phone addr add "$4" brd + dev "$3"
  ip -n phone link set "$3" up
}
link h0 169.254.1.1/16 p0 169.254.1.2/16
link h1 10.77.0.1/24 p1 10.77.0.2/24
ip route add default dev h1

ip netns exec phone "$phone" --name "Linux phone" --identity phone-linux --link auto \
  --stream-now --size 320x240 >"$log" 2>&1 &
pid=$!
n=0
until grep -q 'listening on UDP' "$log"; do
  n=$((n + 1))
  if [ $n -gt 200 ] || ! kill -0 "$pid" 2>/dev/null; then
    cat "$log" >&2
    die "the phone emulator did not start"
  fi
  sleep 0.05
done

export MIRANDEL_PEER_WIRED=169.254.1.2 MIRANDEL_PEER_OTHER=10.77.0.2
status=0
"$@" || status=$?
if [ $status -ne 0 ]; then
  echo "--- the phone emulator's output:" >&2
  cat "$log" >&2
fi
exit $status
