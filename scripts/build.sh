#!/usr/bin/env bash
# Configures and builds both trees: the 64-bit and the 32-bit DLL, each with its tests, benchmark
# and demo, then the installer (NSIS) from both DLLs. BITS=64 or BITS=32 builds one tree only (the
# 64-bit one still makes the installer when a 32-bit DLL is there).
set -euo pipefail
source "$(dirname "$0")/env.sh"

build_tree() {  # dir toolchain loader
  local dir="$1" toolchain="$2" loader="$3"
  cmake -S "$ROOT" -B "$dir" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/$toolchain" \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DWINE_LOADER="$loader" -DUDP_BUILD_TESTS=ON >/dev/null \
    || fail "configuring $dir"
  cmake --build "$dir" || fail "building $dir"
}
case "${BITS:-both}" in
  64) build_tree "$BUILD64" mingw64.cmake "$WINE64" ;;
  32) build_tree "$BUILD32" mingw32.cmake "$WINE32" ;;
  both)
    build_tree "$BUILD64" mingw64.cmake "$WINE64"
    build_tree "$BUILD32" mingw32.cmake "$WINE32" ;;
  *) fail "BITS must be 64, 32 or both, not '$BITS'" ;;
esac
# The installer carries both DLLs: it is made in the 64-bit tree once the 32-bit DLL exists.
if [ "${BITS:-both}" != 32 ] && [ -f "$BUILD32/udp.ocx" ]; then
  cmake --build "$BUILD64" --target installer || fail "building the installer"
fi
