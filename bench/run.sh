#!/usr/bin/env bash
# Runs the datagram benchmark under Wine with the benchmark and wineserver pinned to one CPU, and
# prints its table. Builds nothing: build first (scripts/build.sh). Arguments go to the benchmark,
# e.g. bench/run.sh --count 20000 --rounds 5 --memory-datagrams 1000000
# BENCH_CPU chooses the CPU (default: the last one).
set -euo pipefail
source "$(dirname "$0")/../scripts/env.sh"
EXE="$BUILD64/bench/udp_bench.exe"
[ -f "$EXE" ] || { echo "no $EXE: build first (scripts/build.sh)" >&2; exit 1; }
CPU="${BENCH_CPU:-$(($(nproc) - 1))}"
# A wineserver already running for this prefix would stay on its CPUs: start a pinned one.
wine_stop
taskset -c "$CPU" "$WINESERVER" -p
taskset -c "$CPU" "$WINE64" cmd /c exit </dev/null >/dev/null 2>&1 || true
trap wine_stop EXIT
taskset -c "$CPU" "$WINE64" "$EXE" "$@" </dev/null
