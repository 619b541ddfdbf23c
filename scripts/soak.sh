#!/usr/bin/env bash
# The soak benchmark under Wine, each bitness in turn, with the benchmark and wineserver pinned to
# one CPU: 10^6 datagrams through SendTo/Sent and through Received, 10^4 Open/Close cycles, 10^4
# controls destroyed with look-ups in flight; the process's resources before each run and after
# its first and last tenth. Builds nothing: build first (scripts/build.sh). BITS=64 or BITS=32 runs
# one bitness; arguments go to the benchmark (e.g. --datagrams 100000 --cycles 1000).
# BENCH_CPU chooses the CPU (default: the last one).
set -euo pipefail
source "$(dirname "$0")/env.sh"
CPU="${BENCH_CPU:-$(($(nproc) - 1))}"
# A wineserver already running for this prefix would stay on its CPUs: start a pinned one.
wine_stop
taskset -c "$CPU" "$WINESERVER" -p
taskset -c "$CPU" "$WINE64" cmd /c exit </dev/null >/dev/null 2>&1 || true
trap wine_stop EXIT
status=0
soak() {  # label loader exe
  [ -f "$3" ] || fail "no $3: build first (scripts/build.sh)"
  echo "=== soak: $1"
  taskset -c "$CPU" "$2" "$3" "${@:4}" </dev/null || status=1
}
case "${BITS:-both}" in
  64) soak x64 "$WINE64" "$BUILD64/bench/udp_soak.exe" "$@" ;;
  32) soak x86 "$WINE32" "$BUILD32/bench/udp_soak.exe" "$@" ;;
  *)
    soak x64 "$WINE64" "$BUILD64/bench/udp_soak.exe" "$@"
    soak x86 "$WINE32" "$BUILD32/bench/udp_soak.exe" "$@" ;;
esac
exit "$status"
