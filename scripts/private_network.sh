#!/usr/bin/env bash
# Runs a command in a private network namespace whose only interface is loopback, with a route for
# 224.0.0.0/4 on it, so that multicast never leaves this machine. Under Wine the wineserver owns
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
wine_start
trap wine_stop EXIT
"$@"
