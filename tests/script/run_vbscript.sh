#!/usr/bin/env bash
# Registers the built control in the Wine prefix, runs a VBScript under cscript and judges the
# lines it prints (cscript exits 0 even when the script fails).
# Usage: run_vbscript.sh <udp.ocx> <script.vbs> <expected-output file>
set -uo pipefail
ocx="$1" script="$2" expected="$3"
here="$(cd "$(dirname "$0")" && pwd)"
source "$here/../../scripts/env.sh"
# The loader of the DLL's bitness: the 32-bit one runs syswow64's regsvr32 and cscript.
WINE="${UDP_WINE:-$WINE64}"

ocx_win="$(win_path "$ocx")" || exit 1
script_win="$(win_path "$script")" || exit 1

"$WINE" regsvr32 /s "$ocx_win" </dev/null >/dev/null 2>&1 || { echo "regsvr32 failed"; exit 1; }
trap '"$WINE" regsvr32 /s /u "$ocx_win" </dev/null >/dev/null 2>&1' EXIT

actual="$("$WINE" cscript //nologo "$script_win" </dev/null 2>&1 | tr -d '\r')"
echo "--- printed by the script:"
echo "$actual"
if [ "$actual" == "$(cat "$expected")" ]; then
  echo "--- as expected"
  exit 0
fi
echo "--- expected:"
cat "$expected"
exit 1
