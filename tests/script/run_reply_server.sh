#!/usr/bin/env bash
# Runs the reply-from-contacted server example under cscript with a native client (python3) that
# sends a request to 127.0.0.2, another address of loopback, and waits for the answer. Judges the
# client's answer and the lines the server prints (cscript exits 0 even when the script fails).
# Usage: run_reply_server.sh <udp.ocx> <server.vbs>
set -uo pipefail
ocx="$1" server="$2"
here="$(cd "$(dirname "$0")" && pwd)"
source "$here/../../scripts/env.sh"
WINE="${UDP_WINE:-$WINE64}"
ocx_win="$(win_path "$ocx")" || exit 1
server_win="$(win_path "$server")" || exit 1
port="$(python3 -c 'import socket; s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')" || fail "no free port"
out="$(mktemp)"
trap '"$WINE" regsvr32 /s /u "$ocx_win" </dev/null >/dev/null 2>&1; rm -f "$out"' EXIT
"$WINE" regsvr32 /s "$ocx_win" </dev/null >/dev/null 2>&1 || fail "regsvr32 $ocx_win"
"$WINE" cscript //nologo "$server_win" "$port" 1 </dev/null >"$out" 2>&1 &
server_pid=$!
# The request is repeated until the server, which takes a moment to start, answers once.
answer="$(python3 -c '
import socket, sys, time
c = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
c.bind(("127.0.0.1", 0))
c.settimeout(0.5)
for _ in range(40):
    c.sendto(b"ping", ("127.0.0.2", int(sys.argv[1])))
    try:
        data, sender = c.recvfrom(100)
        print(data.decode())
        break
    except socket.timeout:
        pass
' "$port")"
wait "$server_pid"
printed="$(tr -d '\r' <"$out")"
echo "--- the client got: $answer"
echo "--- printed by $(basename "$server"):"
echo "$printed"
[ "$answer" = ping ] || fail "the client got no answer"
expected="^listening on port $port
answered 127\.0\.0\.1 from 127\.0\.0\.2 \(interface [1-9][0-9]*\)\$"
[[ "$printed" =~ $expected ]] || fail "the server did not print the expected lines"
