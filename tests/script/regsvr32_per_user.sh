#!/usr/bin/env bash
# regsvr32 /n /i:user registers the built control for the current user only, and
# regsvr32 /u /n /i:user removes that registration again.
# Usage: regsvr32_per_user.sh <udp.ocx>
set -uo pipefail
ocx="$1"
here="$(cd "$(dirname "$0")" && pwd)"
source "$here/../../scripts/env.sh"
# The loader of the DLL's bitness: the 32-bit one runs syswow64's regsvr32 and cscript.
WINE="${UDP_WINE:-$WINE64}"

wine() { "$WINE" "$@" </dev/null 2>/dev/null | tr -d '\r'; }
has_key() { "$WINE" reg query "$1" </dev/null >/dev/null 2>&1; }

ocx_win="$(win_path "$ocx")" || exit 1
user='HKCU\Software\Classes'
machine='HKLM\Software\Classes'
clsid='{796B4C64-E4E2-4C42-92ED-E89BF55CE626}'
libid='{F898A5F0-DC31-4ED8-AB16-C58E72891C2B}'
trap '"$WINE" regsvr32 /s /u /n /i:user "$ocx_win" </dev/null >/dev/null 2>&1' EXIT

"$WINE" regsvr32 /s /u "$ocx_win" </dev/null >/dev/null 2>&1
"$WINE" regsvr32 /s /n /i:user "$ocx_win" </dev/null >/dev/null 2>&1 || fail "regsvr32 /n /i:user"
for key in "$user\\UDP.UdpCtrl.1\\CLSID" "$user\\CLSID\\$clsid\\InprocServer32" \
           "$user\\CLSID\\$clsid\\MiscStatus\\1" "$user\\TypeLib\\$libid\\1.0"; do
  has_key "$key" || fail "missing $key"
done
wine reg query "$user\\CLSID\\$clsid\\InprocServer32" /v ThreadingModel | grep -q Apartment ||
  fail "ThreadingModel"
for key in "$machine\\UDP.UdpCtrl.1" "$machine\\CLSID\\$clsid" "$machine\\TypeLib\\$libid"; do
  has_key "$key" && fail "machine-wide $key"
done
echo "registered for the user"

"$WINE" regsvr32 /s /u /n /i:user "$ocx_win" </dev/null >/dev/null 2>&1 || fail "regsvr32 /u /n /i:user"
for key in "$user\\UDP.UdpCtrl.1" "$user\\CLSID\\$clsid" "$user\\TypeLib\\$libid"; do
  has_key "$key" && fail "left $key"
done
echo "removed for the user"
exit 0
