#!/usr/bin/env bash
# The installer as a user runs it, in the project's Wine prefix: a silent machine-wide install,
# every creatable class used from a 64-bit and a 32-bit client (a datagram each way), a silent
# uninstall, and nothing of ours left in either registry view or on disk. Then the same install
# and removal for the current user only (Wine's COM does not read the user's classes, so there
# the keys are checked instead of used).
# Usage: installer_test.sh <setup.exe> <client 64-bit> <client 32-bit> <udp.ocx to read GUIDs from>
set -uo pipefail
setup="$1" client64="$2" client32="$3" ocx="$4"
here="$(cd "$(dirname "$0")" && pwd)"
source "$here/../../scripts/env.sh"

# Every class a host creates by its ProgID.
progids=(UDP.UdpCtrl.1 UDP.UdpSocket UDP.UdpSocket.1)
version="$(sed -n 's/^project([^)]*VERSION \([0-9.]*\).*/\1/p' "$here/../../CMakeLists.txt")"
uninstall_key='Software\Microsoft\Windows\CurrentVersion\Uninstall\KarvoDgramix'
machine_dir="$WINEPREFIX/drive_c/Program Files/Karvo Dgramix"

for f in "$client64" "$client32" "$ocx"; do
  [ -f "$f" ] || { echo "missing $f: build both trees (scripts/build.sh)"; exit 77; }
done
[ -f "$setup" ] || { echo "no installer at $setup: scripts/build.sh makes it"; exit 77; }

run64() { "$WINE64" "$@" </dev/null 2>/dev/null | tr -d '\r'; }
run32() { "$WINE32" "$@" </dev/null 2>/dev/null | tr -d '\r'; }
has_key() { "$WINE64" reg query "$1" </dev/null >/dev/null 2>&1; }
reg_value() { run64 reg query "$1" /v "$2" | sed -n "s/^ *$2 *REG_[A-Z_]* *//p"; }
ocx_win="$(win_path "$ocx")" || exit 1
declare -A client=([64]="$client64" [32]="$client32") arch=([64]=x64 [32]=x86) wine=([64]="$WINE64" [32]="$WINE32")
failures=0
check() { if "${@:2}"; then echo "ok: $1"; else echo "FAILED: $1"; failures=$((failures + 1)); fi; }

leftovers() {  # nothing of ours in either view; prints what is left
  local rc=0
  run64 "$client64" leftovers "$ocx_win" || rc=1
  run32 "$client32" leftovers "$ocx_win" || rc=1
  return $rc
}
# The uninstaller copies itself away and returns at once; it is done when its folder is gone.
uninstall() {  # dir
  "$WINE32" "$(win_path "$1/uninstall.exe")" /S </dev/null >/dev/null 2>&1
  for _ in $(seq 1 300); do [ -e "$1" ] || return 0; sleep 0.2; done
  return 1
}
# Whatever happens, the prefix ends without an installed copy.
trap '[ -e "$machine_dir/uninstall.exe" ] && uninstall "$machine_dir"
      [ -n "${user_dir:-}" ] && [ -e "$user_dir/uninstall.exe" ] && uninstall "$user_dir"' EXIT

# A clean start: what the build trees' own tests may have left registered goes first.
for bits in 64 32; do
  dll="$(win_path "$(dirname "${client[$bits]}")/../udp.ocx")"
  for args in "/u" "/u /n /i:user"; do "${wine[$bits]}" regsvr32 /s $args "$dll" </dev/null >/dev/null 2>&1; done
done
leftovers || { echo "FAILED: the prefix holds a registration of ours before the install"; exit 1; }

echo "=== current user (/user)"
user_dir_win="$(run64 cmd /c echo %LOCALAPPDATA%)\\Programs\\Karvo Dgramix"
user_dir="$(run64 winepath -u "$user_dir_win")"
user_dir="${user_dir%/}"
"$WINE32" "$(win_path "$setup")" /S /user </dev/null >/dev/null 2>&1
check "setup /S /user exits 0" [ $? -eq 0 ]
check "installed under the user's programs" [ -f "$user_dir/x86/udp.ocx" -a -f "$user_dir/x64/udp.ocx" ]
check "the user's Add/Remove entry" [ "$(reg_value "HKCU\\$uninstall_key" DisplayVersion)" == "$version" ]
check "no machine-wide Add/Remove entry" eval '! has_key "HKLM\\$uninstall_key"'
clsid="$(run64 reg query "HKCU\\Software\\Classes\\${progids[0]}\\CLSID" /ve | sed -n 's/.*REG_SZ *//p')"
check "the ProgID is the user's" [ -n "$clsid" ]
# Wine keeps one view of the user's classes for both word sizes (Windows has two), so the later
# registration's path is the one seen here.
check "the class is the user's" has_key "HKCU\\Software\\Classes\\CLSID\\$clsid\\InprocServer32"
check "no machine-wide class" eval '! has_key "HKLM\\Software\\Classes\\CLSID\\$clsid"'
check "silent uninstall removed the folder" uninstall "$user_dir"
check "no Add/Remove entry left" eval '! has_key "HKCU\\$uninstall_key"'
# Wine's 32-bit RegisterTypeLib writes the 64-bit view's interface keys machine-wide even while
# the classes root is the user's (measured; Windows writes them for the user). The machine-wide
# round below registers and removes those keys again, and its final check sees every key.
left="$(leftovers)"
echo "$left"
check "nothing of the user's registration left" eval '! grep -v "HKLM.Software.Classes.Interface" <<<"$left" | grep -q .'

echo "=== machine-wide"
"$WINE32" "$(win_path "$setup")" /S </dev/null >/dev/null 2>&1
check "setup /S exits 0" [ $? -eq 0 ]
check "both DLLs installed" [ -f "$machine_dir/x64/udp.ocx" -a -f "$machine_dir/x86/udp.ocx" ]
check "Add/Remove entry with version $version" \
  [ "$(reg_value "HKLM\\$uninstall_key" DisplayVersion)" == "$version" ]
for bits in 64 32; do
  out="$(run$bits "${client[$bits]}" exchange "${progids[@]}")"
  rc=$?
  echo "$out"
  check "$bits-bit client exchanged datagrams" [ $rc -eq 0 ]
  dll="Program Files\\Karvo Dgramix\\${arch[$bits]}\\udp.ocx"
  check "$bits-bit client loaded $dll" [ "$(grep -cF "$dll" <<<"$out")" -eq ${#progids[@]} ]
done
check "silent uninstall removed the folder" uninstall "$machine_dir"
check "no Add/Remove entry left" eval '! has_key "HKLM\\$uninstall_key"'
check "no class, ProgID, interface or type library left" leftovers

[ $failures -eq 0 ] && echo "all passed" && exit 0
echo "$failures check(s) failed"
exit 1
