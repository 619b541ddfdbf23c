#!/usr/bin/env bash
# Installs what is missing on a Debian machine (64-bit and 32-bit Wine side by side) and makes the
# project's own headless WoW64 Wine prefix.
set -euo pipefail
source "$(dirname "$0")/env.sh"

packages=(g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix mingw-w64-tools libwine-dev
          wine64 wine wine32:i386 cmake ninja-build googletest python3 nsis
          iproute2 fp-compiler-3.2.2 fp-utils-3.2.2 fpc-source-3.2.2 make ${EXTRA_PACKAGES:-})
# iproute2: ip, for the multicast tests' own network; fp-*: Free Pascal, for the Delphi examples
sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
apt() { "${sudo_cmd[@]}" env DEBIAN_FRONTEND=noninteractive "$@"; }

# 32-bit programs (the 32-bit control and its tests) need Debian's i386 Wine.
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  echo "adding the i386 architecture"
  apt dpkg --add-architecture i386 || fail "dpkg --add-architecture i386"
  need_update=1
fi
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  apt apt-get update -q >/dev/null || fail "apt-get update"
  apt apt-get install -y -q --no-install-recommends "${missing[@]}" >/dev/null \
    || fail "apt-get install ${missing[*]}"
elif [ "${need_update:-0}" = 1 ]; then
  apt apt-get update -q >/dev/null || fail "apt-get update"
fi

[ -x "$WINE64" ] || fail "no 64-bit Wine loader at $WINE64"
[ -x "$WINE32" ] || fail "no 32-bit Wine loader at $WINE32"
"$ROOT/scripts/i386_emulation.sh"

# A prefix made while 32-bit Wine could not run has no 32-bit system (syswow64 is missing or
# empty): 32-bit programs and winepath fail there ("could not load kernel32.dll"). It is remade.
wow64_kernel="$WINEPREFIX/drive_c/windows/syswow64/kernel32.dll"
if [ -f "$WINEPREFIX/.headless-ready" ] && [ ! -f "$wow64_kernel" ]; then
  echo "remaking Wine prefix $WINEPREFIX (it has no 32-bit part)"
  "$WINESERVER" -k 2>/dev/null || true
  rm -rf "$WINEPREFIX"
fi
if [ ! -f "$WINEPREFIX/.headless-ready" ]; then
  echo "making Wine prefix $WINEPREFIX"
  mkdir -p "$WINEPREFIX"
  "$WINE64" wineboot -i </dev/null >/dev/null 2>&1 || fail "wineboot -i in $WINEPREFIX"
  "$WINE64" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f </dev/null >/dev/null 2>&1 \
    || fail "setting the null graphics driver"
  "$WINE64" reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f \
    </dev/null >/dev/null 2>&1 || fail "turning off the crash dialog"
  "$WINESERVER" -w
  [ -f "$wow64_kernel" ] || fail "the new prefix has no 32-bit system (32-bit Wine missing?)"
  touch "$WINEPREFIX/.headless-ready"
fi
# Free Pascal's Windows units and 32-bit cross compiler, for the Delphi examples (cached in build/).
"$ROOT/scripts/pascal.sh"
