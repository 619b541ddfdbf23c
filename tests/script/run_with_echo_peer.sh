#!/usr/bin/env bash
# Starts a native UDP echo peer (python3, on 127.0.0.1) and registers the built DLL in the Wine
# prefix, then runs a client with the peer's port as its argument: a .vbs or .js under cscript,
# or a Windows program. Judges the lines the client prints (cscript exits 0 even when the script
# fails).
# Usage: run_with_echo_peer.sh <udp.ocx> <expected-output file> <client>
set -uo pipefail
ocx="$1" expected="$2" client="$3"
here="$(cd "$(dirname "$0")" && pwd)"
source "$here/../../scripts/env.sh"
# The loader of the DLL's bitness: the 32-bit one runs syswow64's regsvr32 and cscript.
WINE="${UDP_WINE:-$WINE64}"

ocx_win="$(win_path "$ocx")" || exit 1
client_win="$(win_path "$client")" || exit 1

source "$here/echo_peer.sh"
start_echo_peer
trap 'kill "$peer_pid" 2>/dev/null; "$WINE" regsvr32 /s /u "$ocx_win" </dev/null >/dev/null 2>&1' EXIT

"$WINE" regsvr32 /s "$ocx_win" </dev/null >/dev/null 2>&1 || { echo "regsvr32 failed"; exit 1; }
case "$client" in
  *.vbs | *.js) actual="$("$WINE" cscript //nologo "$client_win" "$port" </dev/null 2>&1)" ;;
  *) actual="$("$WINE" "$client_win" "$port" </dev/null 2>&1)" ;;
esac
actual="$(printf '%s\n' "$actual" | tr -d '\r')"
echo "--- printed by $(basename "$client") (echo peer on port $port):"
echo "$actual"
if [ "$actual" == "$(cat "$expected")" ]; then
  echo "--- as expected"
  exit 0
fi
echo "--- expected:"
cat "$expected"
exit 1
