#!/usr/bin/env bash
# Everything from a fresh Debian machine: packages, prefix, both builds, every test under Wine.
set -euo pipefail
source "$(dirname "$0")/env.sh"
"$ROOT/scripts/setup.sh"
"$ROOT/scripts/build.sh"
wine_start
trap wine_stop EXIT
cd "$BUILD64"
ctest --output-on-failure --timeout 120 "$@"
