#!/usr/bin/env bash
# Runs a command in a private network namespace with loopback (and a route for 224.0.0.0/4 on it)
# and a veth pair whose two ends are both inside, so that multicast never leaves this machine. Under Wine the wineserver owns
# the sockets: the prefix's server is stopped before and started inside, and stopped again before
# the namespace goes. Needs root, unshare and ip (iproute2); without them it says so and fails.
# Usage: scripts/private_network.sh <command> [args...]
set -euo pipefail
source "$(dirname "$0")/env.sh"

if [ "${UDP_PRIVATE_NETWORK:-}" != 1 ]; then
  [ "$(id -u)" = 0 ] || fail "the multicast tests need root for their own network namespace (unshare -n)"
  command -v unshare >/dev/null || fail "the multicast tests need unshare (util-linux)"
  command -v ip >/dev/null || fail "the multicast tests need ip (iproute2)"
  wine_stop
  exec unshare -n -- env UDP_PRIVATE_NETWORK=1 bash "$0" "$@"
fi

step "bringing up lo in the private network" ip link set lo up
step "routing 224.0.0.0/4 to lo" ip route add 224.0.0.0/4 dev lo
# A veth pair with both ends inside: an interface other than loopback (192.0.2.1), on which
# MulticastLoopback shows (a datagram sent out of lo comes back whatever the option says).
step "making the veth pair mcast0/mcast1" ip link add mcast0 type veth peer name mcast1
step "addressing mcast0" ip addr add 192.0.2.1/24 dev mcast0
step "addressing mcast1" ip addr add 192.0.2.2/24 dev mcast1
step "bringing up mcast0" ip link set mcast0 up
step "bringing up mcast1" ip link set mcast1 up
wine_start
trap wine_stop EXIT
"$@"
