#!/usr/bin/env bash
# Installs what is missing on a Debian machine and makes the project's own headless Wine prefix.
#   setup.sh main    what the main job uses: the 64-bit compiler, 64-bit Wine, a 64-bit prefix
#   setup.sh         what every test uses besides: the 32-bit compiler and Wine (WoW64 prefix,
#                    qemu where the kernel runs no 32-bit program), googletest, python3, NSIS,
#                    iproute2 and Free Pascal with its Windows units
# Either completes what the other made: a 64-bit prefix gets its 32-bit part when the tests need it.
set -euo pipefail
source "$(dirname "$0")/env.sh"

mode="${1:-all}"
main_packages=(g++-mingw-w64-x86-64-posix mingw-w64-tools libwine-dev wine64 wine cmake ninja-build)
# iproute2: ip, for the multicast tests' own network; fp-*: Free Pascal, for the Delphi examples
test_packages=(g++-mingw-w64-i686-posix wine32:i386 googletest python3 nsis iproute2
               fp-compiler-3.2.2 fp-utils-3.2.2 fpc-source-3.2.2 make)
case "$mode" in
  main) packages=("${main_packages[@]}") ;;
  all) packages=("${main_packages[@]}" "${test_packages[@]}") ;;
  *) fail "setup.sh takes 'main' or nothing, not '$mode'" ;;
esac
packages+=(${EXTRA_PACKAGES:-})

# 32-bit programs (the 32-bit control and its tests) need Debian's i386 Wine.
if [ "$mode" = all ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  echo "adding the i386 architecture"
  as_root dpkg --add-architecture i386 || fail "dpkg --add-architecture i386"
  need_update=1
fi
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  apt_install "${missing[@]}"
elif [ "${need_update:-0}" = 1 ]; then
  apt_update
fi

[ -x "$WINE64" ] || fail "no 64-bit Wine loader at $WINE64"
if [ "$mode" = all ]; then
  [ -x "$WINE32" ] || fail "no 32-bit Wine loader at $WINE32"
  "$ROOT/scripts/i386_emulation.sh"
fi

ready="$WINEPREFIX/.headless-ready"
wow64_kernel="$WINEPREFIX/drive_c/windows/syswow64/kernel32.dll"
if [ ! -f "$ready" ]; then
  echo "making Wine prefix $WINEPREFIX"
  rm -rf "$WINEPREFIX"  # one that stopped half way
  mkdir -p "$WINEPREFIX"
  "$WINE64" wineboot -i </dev/null >/dev/null 2>&1 || fail "wineboot -i in $WINEPREFIX"
  "$WINE64" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f </dev/null >/dev/null 2>&1 \
    || fail "setting the null graphics driver"
  "$WINE64" reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f \
    </dev/null >/dev/null 2>&1 || fail "turning off the crash dialog"
  "$WINESERVER" -w
  touch "$ready"
fi
# A prefix made while 32-bit Wine was missing (the main job's, or one made where it could not run)
# has no 32-bit system: 32-bit programs and winepath fail there ("could not load kernel32.dll").
# Updating it with 32-bit Wine present adds syswow64 and keeps the rest; Wine updates a prefix only
# when its timestamp differs from Wine's own, so the timestamp goes first.
if [ "$mode" = all ] && [ ! -f "$wow64_kernel" ]; then
  echo "adding the 32-bit part to Wine prefix $WINEPREFIX"
  rm -f "$WINEPREFIX/.update-timestamp"
  "$WINE64" wineboot -u </dev/null >/dev/null 2>&1 || fail "wineboot -u in $WINEPREFIX"
  "$WINESERVER" -w
  [ -f "$wow64_kernel" ] || fail "the prefix has no 32-bit system after wineboot -u (32-bit Wine missing?)"
fi
# Free Pascal's Windows units and 32-bit cross compiler, for the Delphi examples (cached in build/).
[ "$mode" = main ] || "$ROOT/scripts/pascal.sh"
