#!/usr/bin/env bash
# The product's main job from a fresh Debian machine: installs only what it uses (the 64-bit
# compiler, 64-bit Wine, a 64-bit prefix), builds the 64-bit DLL and the demo, registers the
# control and lets two controls created by its ProgID exchange datagrams on 127.0.0.1.
# scripts/test.sh installs and builds the rest in the same tree and prefix.
set -euo pipefail
source "$(dirname "$0")/env.sh"
"$ROOT/scripts/setup.sh" main
# The tree's cached options are kept, so a tree the tests configured keeps its tests.
tests=()
[ -f "$BUILD64/CMakeCache.txt" ] || tests=(-DUDP_BUILD_TESTS=OFF)
cmake -S "$ROOT" -B "$BUILD64" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw64.cmake" \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DWINE_LOADER="$WINE64" "${tests[@]}" >/dev/null \
  || fail "configuring $BUILD64"
log="$BUILD64/main-build.log"
cmake --build "$BUILD64" --target udp udp_demo >"$log" 2>&1 \
  || { tail -n 30 "$log" >&2; fail "building udp.ocx and udp_demo.exe (log: $log)"; }
wine_start
trap wine_stop EXIT
ocx="$(win_path "$BUILD64/udp.ocx")"
"$WINE64" regsvr32 /s "$ocx" </dev/null || fail "regsvr32 $ocx"
echo "registered $ocx as UDP.UdpCtrl.1"
"$WINE64" "$BUILD64/demo/udp_demo.exe" </dev/null || fail "the datagram exchange (udp_demo.exe)"
