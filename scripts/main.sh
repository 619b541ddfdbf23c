#!/usr/bin/env bash
# Everything from a fresh Debian machine, then the product's main job: a datagram exchange on loopback.
set -euo pipefail
source "$(dirname "$0")/env.sh"
"$ROOT/scripts/setup.sh"
SKIP_32BIT=1 "$ROOT/scripts/build.sh" >/dev/null
wine_start
trap wine_stop EXIT
"$WINE64" "$BUILD64/demo/udp_demo.exe" </dev/null
