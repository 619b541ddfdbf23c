#!/usr/bin/env bash
# Everything from a fresh Debian machine, then the product's main job: the registered control,
# created by its ProgID, exchanges datagrams on 127.0.0.1.
set -euo pipefail
source "$(dirname "$0")/env.sh"
"$ROOT/scripts/setup.sh"
BITS=64 "$ROOT/scripts/build.sh" >/dev/null
wine_start
trap wine_stop EXIT
ocx="$(win_path "$BUILD64/udp.ocx")"
"$WINE64" regsvr32 /s "$ocx" </dev/null || fail "regsvr32 $ocx"
echo "registered $ocx as UDP.UdpCtrl.1"
"$WINE64" "$BUILD64/demo/udp_demo.exe" </dev/null || fail "the datagram exchange (udp_demo.exe)"
