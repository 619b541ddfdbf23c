#!/usr/bin/env bash
# Long fuzzing runs under Wine's heap checker: CALLS automation calls and FORMS corrupted forms per
# bitness (10^6 and 5000 by default), in BATCHES processes with consecutive seeds from SEED, then
# one table: calls, distinct results, crashes, heap lines, loopback refusals, objects still
# referenced, broken promises (results or event arguments of other types than the control
# promises), and whether a control still exchanged datagrams afterwards. Builds nothing: build
# first (scripts/build.sh). BITS=64 or BITS=32 runs one bitness. Logs go to build/fuzz/.
set -euo pipefail
source "$(dirname "$0")/env.sh"
CALLS="${CALLS:-1000000}"
FORMS="${FORMS:-5000}"
BATCHES="${BATCHES:-10}"
SEED="${SEED:-$(date +%s)}"
# Double frees and frees of foreign blocks become ":heap:" lines; no BSTR cache hides them.
export WINEDEBUG=-all,warn+heap OANOCACHE=1
wine_start
trap wine_stop EXIT

rows=()
run_bitness() {  # label loader exe
  local label="$1" loader="$2" exe="$3"
  [ -f "$exe" ] || fail "no $exe: build first (scripts/build.sh)"
  local logs="$ROOT/build/fuzz/$label"
  rm -rf "$logs" && mkdir -p "$logs"
  local keys_dir
  keys_dir="$(win_path "$logs")"
  local calls=0 forms=0 crashes=0 heap=0 refused=0 leaked=0 broken=0 exchanged=0 failed=()
  for ((b = 0; b < BATCHES; b++)); do
    local seed=$((SEED + b)) rc=0 out="$logs/seed-$((SEED + b))"
    echo "== $label seed $seed"
    "$loader" "$exe" --seed "$seed" --calls $((CALLS / BATCHES)) --forms $((FORMS / BATCHES)) \
      --keys-out "$keys_dir\\keys-$seed.txt" >"$out.out" 2>"$out.err" </dev/null || rc=$?
    # 1 is the fuzzer's own verdict (a refusal, a leak, no exchange); anything else is a crash.
    if [ "$rc" -ne 0 ] && [ "$rc" -ne 1 ] || grep -q CRASH "$out.err"; then
      crashes=$((crashes + 1))
      failed+=("$seed")
      grep CRASH "$out.err" || echo "exit code $rc"
    fi
    heap=$((heap + $(grep -c ':heap:' "$out.err" || true)))
    local text
    text="$(tr -d '\r' <"$out.out")"  # a Windows program ends its lines with CR LF
    field() { sed -n "s/^$1 \([0-9]*\).*/\1/p" <<<"$text" | head -1 | grep . || echo 0; }
    calls=$((calls + $(field calls)))
    forms=$((forms + $(field forms)))
    refused=$((refused + $(field 'refused by the loopback guard')))
    leaked=$((leaked + $(field 'objects still referenced')))
    broken=$((broken + $(field 'broken promises')))
    grep -q '^exchanges datagrams afterwards yes' <<<"$text" && exchanged=$((exchanged + 1))
    sed -n 's/^\(events: .*\)/   \1/p' <<<"$text"
  done
  local distinct
  distinct="$(cat "$logs"/keys-*.txt 2>/dev/null | sort -u | wc -l)"
  rows+=("$(printf '%-5s %9s %6s %9s %8s %6s %8s %7s %7s %10s' "$label" "$calls" "$forms" \
    "$distinct" "$crashes" "$heap" "$refused" "$leaked" "$broken" "$exchanged/$BATCHES")")
  [ ${#failed[@]} -eq 0 ] || rows+=("      crashed seeds: ${failed[*]}")
}

case "${BITS:-both}" in
  64) run_bitness x64 "$WINE64" "$BUILD64/tests/udp_fuzz.exe" ;;
  32) run_bitness x86 "$WINE32" "$BUILD32/tests/udp_fuzz.exe" ;;
  *)
    run_bitness x64 "$WINE64" "$BUILD64/tests/udp_fuzz.exe"
    run_bitness x86 "$WINE32" "$BUILD32/tests/udp_fuzz.exe" ;;
esac

echo
echo "seeds $SEED to $((SEED + BATCHES - 1)), $BATCHES batches per bitness"
printf '%-5s %9s %6s %9s %8s %6s %8s %7s %7s %10s\n' bits calls forms distinct crashes heap \
  refused leaked broken exchanged
printf '%s\n' "${rows[@]}"
bad=0
[ ${#rows[@]} -gt 0 ] || bad=1
for row in "${rows[@]}"; do
  [[ "$row" == " "* ]] && { bad=1; continue; }
  read -r _ _ _ _ crashes heap refused leaked broken exchanged <<<"$row"
  [ "$crashes" = 0 ] && [ "$heap" = 0 ] && [ "$refused" = 0 ] && [ "$leaked" = 0 ] &&
    [ "$broken" = 0 ] &&
    [ "${exchanged%/*}" = "$BATCHES" ] || bad=1
done
[ "$bad" = 0 ] || fail "the fuzzer found something (logs in build/fuzz/)"
echo "no crash, no heap line, nothing left loopback, nothing leaked or broken, every batch"
echo "exchanged datagrams afterwards"
