#!/usr/bin/env bash
# Runs a client of a multicast group with a native member of the group (group_peer.py, python3)
# on loopback. Only inside the tests' private network namespace (scripts/private_network.sh).
#   <udp_multicast_tests.exe>: the peers (an IPv4 and an IPv6 member, and a listener in the second
#     network's namespace) answer each datagram; runs MulticastNativePeer.* with their ports in
#     UDP_GROUP_PEER_PORT, UDP_GROUP6_PEER_PORT and UDP_BROADCAST_PEER_PORT and judges its exit
#     code.
#   <listener.vbs>, <UdpMulticastListener.exe> (the Delphi example): the peer sends to the group's
#     port; the listener (registered DLL) must print that it joined, one datagram from 127.0.0.1,
#     and that it left.
# Usage: run_with_group_peer.sh <udp.ocx> <client>
set -uo pipefail
ocx="$1" client="$2"
here="$(cd "$(dirname "$0")" && pwd)"
source "$here/../../scripts/env.sh"
WINE="${UDP_WINE:-$WINE64}"
group=239.255.10.12
[ "${UDP_PRIVATE_NETWORK:-}" = 1 ] || fail "multicast clients run only in the private network (scripts/private_network.sh)"

port_file="$(mktemp)" port6_file="$(mktemp)" broadcast_file="$(mktemp)"
peer_pid="" peer6_pid="" broadcast_pid=""
trap 'kill $peer_pid $peer6_pid $broadcast_pid 2>/dev/null
      rm -f "$port_file" "$port6_file" "$broadcast_file"' EXIT
case "$client" in
  *.vbs | *Listener.exe)
    port="$(python3 -c 'import socket; s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.bind(("", 0)); print(s.getsockname()[1])')" || fail "no free port"
    python3 "$here/group_peer.py" send "$group" "$port" "hello group" &
    peer_pid=$!
    ocx_win="$(win_path "$ocx")" || exit 1
    client_win="$(win_path "$client")" || exit 1
    "$WINE" regsvr32 /s "$ocx_win" </dev/null >/dev/null 2>&1 || fail "regsvr32 $ocx_win"
    if [[ "$client" == *.vbs ]]; then
      actual="$("$WINE" cscript //nologo "$client_win" "$group" "$port" 127.0.0.1 1 </dev/null 2>&1 \
                | tr -d '\r')"
      expected="^joined $group on port $port
127\.0\.0\.1:-?[0-9]+ hello group
left $group\$"
    else
      actual="$("$WINE" "$client_win" "$group" "$port" 127.0.0.1 1 </dev/null 2>&1 | tr -d '\r')" \
        || fail "$(basename "$client") exited with an error"
      expected="^joined $group on 127\.0\.0\.1, listening on port $port
from 127\.0\.0\.1 port [0-9]+: hello group
left $group after 1 datagram\(s\)\$"
    fi
    "$WINE" regsvr32 /s /u "$ocx_win" </dev/null >/dev/null 2>&1
    echo "--- printed by $(basename "$client") (group $group, port $port):"
    echo "$actual"
    # cscript exits 0 even when the script fails: judge the lines.
    [[ "$actual" =~ $expected ]] || fail "the listener did not print the expected three lines"
    ;;
  *)
    python3 "$here/group_peer.py" echo "$group" "$port_file" &
    peer_pid=$!
    python3 "$here/group_peer.py" echo6 ff15::10:12 "$port6_file" &
    peer6_pid=$!
    ip netns exec udp-peers python3 "$here/group_peer.py" broadcast "$broadcast_file" &
    broadcast_pid=$!
    for _ in $(seq 50); do
      [ -s "$port_file" ] && [ -s "$port6_file" ] && [ -s "$broadcast_file" ] && break
      sleep 0.1
    done
    [ -s "$port_file" ] || fail "the group peer did not start"
    [ -s "$port6_file" ] || fail "the IPv6 group peer did not start"
    [ -s "$broadcast_file" ] || fail "the broadcast listener did not start"
    UDP_GROUP_PEER_PORT="$(cat "$port_file")" UDP_GROUP6_PEER_PORT="$(cat "$port6_file")" \
      UDP_BROADCAST_PEER_PORT="$(cat "$broadcast_file")" \
      "$WINE" "$client" \
      --gtest_filter='MulticastNativePeer.*' </dev/null || fail "$(basename "$client") failed"
    ;;
esac
