#!/usr/bin/env bash
# Runs one of the Pascal examples (a Windows program) under the loader of its bitness against a
# native UDP echo peer (python3, on 127.0.0.1), with the built DLL registered. The program gets
# the peer's port as its argument and must exit 0 and print exactly the expected lines, where
# @PORT@ stands for the peer's port and @PORT_TEXT@ for the signed decimal text the control gives
# for it. A 32-bit program that cannot run prints nothing and returns 0: the lines catch that.
# Usage: run_pascal_example.sh <udp.ocx> <expected-output file> <program.exe>
set -uo pipefail
ocx="$1" expected="$2" program="$3"
here="$(cd "$(dirname "$0")" && pwd)"
source "$here/../../scripts/env.sh"
WINE="${UDP_WINE:-$WINE64}"

[ -f "$program" ] || { echo "no program at $program"; exit 1; }
ocx_win="$(win_path "$ocx")" || exit 1
program_win="$(win_path "$program")" || exit 1

source "$here/echo_peer.sh"
start_echo_peer
trap 'kill "$peer_pid" 2>/dev/null; "$WINE" regsvr32 /s /u "$ocx_win" </dev/null >/dev/null 2>&1' EXIT
# The control's port texts are signed 16-bit: ports above 32767 read negative.
port_text=$(( port > 32767 ? port - 65536 : port ))

"$WINE" regsvr32 /s "$ocx_win" </dev/null >/dev/null 2>&1 \
  || { echo "regsvr32 under $WINE failed (exit $?)"; exit 1; }
actual="$("$WINE" "$program_win" "$port" </dev/null 2>&1)"
status=$?
actual="$(printf '%s\n' "$actual" | tr -d '\r')"
wanted="$(sed -e "s/@PORT@/$port/g" -e "s/@PORT_TEXT@/$port_text/g" "$expected")"
echo "--- printed by $(basename "$program") (echo peer on port $port), exit $status:"
echo "$actual"
if [ "$status" -eq 0 ] && [ "$actual" == "$wanted" ]; then
  echo "--- as expected"
  exit 0
fi
echo "--- expected (exit 0):"
echo "$wanted"
exit 1
