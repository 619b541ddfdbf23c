#!/usr/bin/env bash
# Both DLLs registered in one prefix, as on 64-bit Windows: each regsvr32 registers the DLL of its
# own word size, each word size's client creates its own control by UDP.UdpCtrl.1 and exchanges
# datagrams, the type library has a win32 and a win64 entry, and unregistering one word size leaves
# the other working.
# Usage: side_by_side.sh <64-bit build tree> <32-bit build tree>
set -uo pipefail
tree64="$1" tree32="$2"
here="$(cd "$(dirname "$0")" && pwd)"
source "$here/../../scripts/env.sh"
for tree in "$tree64" "$tree32"; do
  if [ ! -f "$tree/udp.ocx" ] || [ ! -f "$tree/demo/udp_demo.exe" ]; then
    echo "skipped: no build at $tree (scripts/build.sh builds both word sizes)"
    exit 77
  fi
done

ocx64="$(win_path "$tree64/udp.ocx")" || exit 1
ocx32="$(win_path "$tree32/udp.ocx")" || exit 1
libkey='HKLM\Software\Classes\TypeLib\{F898A5F0-DC31-4ED8-AB16-C58E72891C2B}\1.0\0'
progid='HKLM\Software\Classes\UDP.UdpCtrl.1'
has_key() { "$WINE64" reg query "$@" </dev/null >/dev/null 2>&1; }
reg64() { "$WINE64" regsvr32 /s "$@" </dev/null >/dev/null 2>&1; }
reg32() { "$WINE32" regsvr32 /s "$@" </dev/null >/dev/null 2>&1; }
# The demo of each tree creates UDP.UdpCtrl.1 by its ProgID and exchanges datagrams on loopback.
client() {  # 64|32 -> exit status of that word size's client
  if [ "$1" = 64 ]; then "$WINE64" "$tree64/demo/udp_demo.exe"; else "$WINE32" "$tree32/demo/udp_demo.exe"; fi \
    </dev/null >/dev/null 2>&1
}
not() { ! "$@"; }
expect() {  # what condition...
  local what="$1"; shift
  if "$@"; then echo "ok: $what"; else echo "FAILED: $what"; status=1; fi
}
status=0
trap 'reg64 /u "$ocx64"; reg32 /u "$ocx32"' EXIT

reg64 "$ocx64" || fail "64-bit regsvr32 of $ocx64"
reg32 "$ocx32" || fail "32-bit regsvr32 of $ocx32"
expect "the type library has a win64 entry" has_key "$libkey\\win64"
expect "the type library has a win32 entry" has_key "$libkey\\win32"
expect "the 64-bit client exchanges datagrams" client 64
expect "the 32-bit client exchanges datagrams" client 32

reg32 /u "$ocx32" || fail "32-bit regsvr32 /u"
expect "after removing the 32-bit DLL the ProgID stays" has_key "$progid"
for key in UDP.UdpSocket UDP.UdpSocket.1; do
  expect "after removing the 32-bit DLL $key stays" has_key "HKLM\\Software\\Classes\\$key"
done
expect "after removing the 32-bit DLL the 64-bit client still works" client 64
expect "after removing the 32-bit DLL the 32-bit client fails" not client 32
expect "after removing the 32-bit DLL the win64 entry stays" has_key "$libkey\\win64"

reg32 "$ocx32" || fail "32-bit regsvr32 of $ocx32 again"
reg64 /u "$ocx64" || fail "64-bit regsvr32 /u"
expect "after removing the 64-bit DLL the 32-bit client still works" client 32
expect "after removing the 64-bit DLL the 64-bit client fails" not client 64
expect "after removing the 64-bit DLL the win32 entry stays" has_key "$libkey\\win32"

reg32 /u "$ocx32" || fail "32-bit regsvr32 /u at the end"
expect "with both removed no ProgID is left" not has_key "$progid"
expect "with both removed no UdpSocket ProgID is left" not has_key 'HKLM\Software\Classes\UDP.UdpSocket'
expect "with both removed no type library is left" not has_key "${libkey%\\1.0\\0}"
for view in 64 32; do  # the dispatch interface's key of each word size
  expect "with both removed no $view-bit interface key is left" \
    not has_key 'HKLM\Software\Classes\Interface\{62BAA1AF-F59B-4F62-9786-A230B6D41881}' "/reg:$view"
done
exit $status
