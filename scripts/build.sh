#!/usr/bin/env bash
# Configures and builds the 64-bit tree (tests, benchmarks, demo) and the 32-bit DLL.
set -euo pipefail
source "$(dirname "$0")/env.sh"
cmake -S "$ROOT" -B "$BUILD64" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw64.cmake" \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DWINE_LOADER="$WINE64" >/dev/null
cmake --build "$BUILD64"
if [ "${SKIP_32BIT:-0}" != 1 ]; then
  cmake -S "$ROOT" -B "$BUILD32" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw32.cmake" \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DUDP_BUILD_TESTS=OFF >/dev/null
  cmake --build "$BUILD32"
fi
