#!/bin/sh
# Runs a command in a fresh private network namespace with only loopback up.
# Nothing sent from inside can reach any real network.
exec unshare --net sh -c 'ip link set lo up && exec "$@"' in-netns "$@"
