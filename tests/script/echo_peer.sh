# Sourced by the test runners: a native UDP echo peer (python3) on 127.0.0.1, and on [::1] with the
# same port number, that answers every datagram to its sender. start_echo_peer sets $port and
# $peer_pid (the caller kills it) and fails loudly when the peer does not come up.
start_echo_peer() {
  local port_file
  port_file="$(mktemp)"
  python3 -c '
import select, socket, sys
peer = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
peer.bind(("127.0.0.1", 0))
port = peer.getsockname()[1]
peers = [peer]
try:
    peer6 = socket.socket(socket.AF_INET6, socket.SOCK_DGRAM)
    peer6.bind(("::1", port))
    peers.append(peer6)
except OSError as e:
    print("echo peer: no IPv6 peer on [::1]:%d (%s)" % (port, e), file=sys.stderr)
with open(sys.argv[1], "w") as f:
    f.write(str(port))
while True:
    for ready in select.select(peers, [], [])[0]:
        data, sender = ready.recvfrom(65535)
        ready.sendto(data, sender)
' "$port_file" &
  peer_pid=$!
  for _ in $(seq 50); do [ -s "$port_file" ] && break; sleep 0.1; done
  port="$(cat "$port_file")"
  rm -f "$port_file"
  [ -n "$port" ] || fail "the echo peer did not start"
}
