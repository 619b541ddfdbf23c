#!/usr/bin/env bash
# Runs a command in a private network namespace with loopback (and a route for 224.0.0.0/4 on it)
# and a veth pair whose two ends are both inside, so that multicast never leaves this machine; and
# in a private mount namespace whose /etc/hosts adds an IPv6-only name for mcast0's IPv6 address
# (the machine's own has no IPv6 name, and glibc answers an IPv4 query for a name of ::1 with
# 127.0.0.1), so that IPv6 look-ups of a name stay in a hosts file. Under Wine the wineserver owns
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
  exec unshare -n -m -- env UDP_PRIVATE_NETWORK=1 bash "$0" "$@"
fi

# The name the IPv6 look-up tests use; it has no IPv4 address.
hosts="$(mktemp)"
{ cat /etc/hosts; echo "2001:db8:1::1 ipv6-peer.test"; } >"$hosts"
step "giving the private mount namespace its own /etc/hosts" mount --bind "$hosts" /etc/hosts
# Joins of IPv6 groups on every interface include loopback, which must carry multicast for them.
step "letting lo carry multicast" ip link set lo multicast on
step "bringing up lo in the private network" ip link set lo up
step "routing 224.0.0.0/4 to lo" ip route add 224.0.0.0/4 dev lo
# A veth pair with both ends inside: an interface other than loopback (192.0.2.1), on which
# MulticastLoopback shows (a datagram sent out of lo comes back whatever the option says).
step "making the veth pair mcast0/mcast1" ip link add mcast0 type veth peer name mcast1
step "addressing mcast0" ip addr add 192.0.2.1/24 dev mcast0
step "addressing mcast1" ip addr add 192.0.2.2/24 dev mcast1
step "bringing up mcast0" ip link set mcast0 up
step "bringing up mcast1" ip link set mcast1 up
# A second network (198.51.100.0/24) on a second veth pair, for a broadcast on every interface;
# its far end lives in a namespace of its own, "udp-peers", where native listeners run as the
# devices of another network would.
step "making the veth pair net0/net1" ip link add net0 type veth peer name net1
step "addressing net0" ip addr add 198.51.100.1/24 dev net0
step "bringing up net0" ip link set net0 up
# ip keeps named namespaces under /run/netns: a tmpfs of this mount namespace's own leaves nothing
# behind on the machine.
step "making /run/netns" mkdir -p /run/netns
step "giving /run/netns a private tmpfs" mount -t tmpfs udp-netns /run/netns
step "making the peers' namespace" ip netns add udp-peers
step "moving net1 there" ip link set net1 netns udp-peers
step "addressing net1" ip netns exec udp-peers ip addr add 198.51.100.2/24 dev net1
step "bringing up net1" ip netns exec udp-peers ip link set net1 up
step "bringing up the peers' lo" ip netns exec udp-peers ip link set lo up
# IPv6 addresses from the documentation range, usable at once (no duplicate detection).
step "addressing mcast0 (IPv6)" ip -6 addr add 2001:db8:1::1/64 dev mcast0 nodad
step "addressing mcast1 (IPv6)" ip -6 addr add 2001:db8:1::2/64 dev mcast1 nodad
wine_start
trap wine_stop EXIT
"$@"
