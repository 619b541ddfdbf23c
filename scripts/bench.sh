#!/usr/bin/env bash
# Runs the datagram benchmark of each word size under Wine with the benchmark and wineserver pinned
# to one CPU, and prints one table per word size. Builds nothing: build first (scripts/build.sh).
# Arguments go to the benchmark, e.g. scripts/bench.sh --count 20000 --rounds 5
# BITS=64 or BITS=32 runs one word size; BENCH_CPU chooses the CPU (default: the last one).
set -euo pipefail
source "$(dirname "$0")/env.sh"
CPU="${BENCH_CPU:-$(($(nproc) - 1))}"
run_bench() {  # name loader exe args...
  local name="$1" loader="$2" exe="$3"; shift 3
  [ -f "$exe" ] || fail "no $exe: build first (scripts/build.sh)"
  # A wineserver already running for this prefix would stay on its CPUs: start a pinned one.
  wine_stop
  taskset -c "$CPU" "$WINESERVER" -p
  taskset -c "$CPU" "$WINE64" cmd /c exit </dev/null >/dev/null 2>&1 || true
  echo "=== $name"
  taskset -c "$CPU" "$loader" "$exe" "$@" </dev/null || fail "the $name benchmark"
}
trap wine_stop EXIT
case "${BITS:-both}" in
  64) run_bench x64 "$WINE64" "$BUILD64/bench/udp_bench.exe" "$@" ;;
  32) run_bench x86 "$WINE32" "$BUILD32/bench/udp_bench.exe" "$@" ;;
  *) run_bench x64 "$WINE64" "$BUILD64/bench/udp_bench.exe" "$@"
     run_bench x86 "$WINE32" "$BUILD32/bench/udp_bench.exe" "$@" ;;
esac
