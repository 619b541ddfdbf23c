#!/usr/bin/env bash
# Everything from a fresh Debian machine: packages, prefix, both builds, then every test of the
# 64-bit and the 32-bit tree under Wine, with Wine's heap checker on (a ":heap:" line fails the
# test that printed it). BITS=64 or BITS=32 tests one tree; arguments go to ctest.
set -euo pipefail
source "$(dirname "$0")/env.sh"
"$ROOT/scripts/setup.sh"
"$ROOT/scripts/build.sh"
# Double frees and frees of foreign blocks become ":heap:" lines; no BSTR cache hides them.
export WINEDEBUG=-all,warn+heap OANOCACHE=1
wine_start
trap wine_stop EXIT
failed=()
run_tree() {  # name dir
  echo "=== ctest: $1 ($2)"
  "$ROOT/scripts/ctest_twice.sh" "$2" "${@:3}" || failed+=("$1")
}
case "${BITS:-both}" in
  64) trees=("x64 $BUILD64") ;;
  32) trees=("x86 $BUILD32") ;;
  *) trees=("x64 $BUILD64" "x86 $BUILD32") ;;
esac
# A test that fails is run once more (scripts/ctest_twice.sh); those that passed only then are
# listed at the end.
for tree in "${trees[@]}"; do rm -f "${tree#* }/Testing/passed-on-rerun.txt"; done
# Multicast tests send to groups: they run only in a network of their own (below).
for tree in "${trees[@]}"; do run_tree ${tree} -LE multicast "$@"; done
# The same trees' multicast-labelled tests, in a private network namespace whose only interface
# is loopback. It cannot be made without root, unshare and ip: then the run fails, saying why.
for tree in "${trees[@]}"; do
  set -- ${tree} "$@"
  echo "=== multicast, in a private network: $1 ($2)"
  "$ROOT/scripts/private_network.sh" bash -c \
    '"$1" "$2" -L multicast "${@:3}"' \
    _ "$ROOT/scripts/ctest_twice.sh" "$2" "${@:3}" || failed+=("$1 multicast")
  shift 2
done
for tree in "${trees[@]}"; do
  rerun="${tree#* }/Testing/passed-on-rerun.txt"
  [ -s "$rerun" ] && { echo "passed only when run again (${tree%% *}):"; sed 's/^/  /' "$rerun"; }
done
[ ${#failed[@]} -eq 0 ] || fail "tests failed in: ${failed[*]}"
echo "all tests passed (${BITS:-both})"
