# Sourced by the other scripts: where things live and how Wine runs headless.
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD64="${BUILD64:-$ROOT/build/x64}"
BUILD32="${BUILD32:-$ROOT/build/x86}"
export WINEPREFIX="${WINEPREFIX:-$ROOT/build/wineprefix}"
export WINEARCH=win64
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
# /usr/lib/wine/wine64 runs 64-bit programs, /usr/lib/wine/wine 32-bit ones (same WoW64 prefix).
WINE64="$(command -v wine64 || echo /usr/lib/wine/wine64)"
WINE32=/usr/lib/wine/wine
WINESERVER="$(command -v wineserver || echo /usr/lib/wine/wineserver)"
export WINE64 WINE32 WINESERVER

# Every failing step says what failed, on one line, and stops the script.
fail() { echo "error: $*" >&2; exit 1; }
# Runs a command as root (through sudo when this is not root).
as_root() {
  if [ "$(id -u)" -eq 0 ]; then env DEBIAN_FRONTEND=noninteractive "$@"
  else sudo env DEBIAN_FRONTEND=noninteractive "$@"; fi
}
# Refreshes the package lists. A mirror that is syncing fails an index now and then ("File has
# unexpected size"): tried three times, then the lists apt already has are used, with a warning;
# an install that cannot do with them fails on its own line.
apt_update() {
  local attempt errors
  errors="$(mktemp)"
  for attempt in 1 2 3; do
    if as_root apt-get update -q >/dev/null 2>"$errors"; then rm -f "$errors"; return 0; fi
    [ "$attempt" = 3 ] || sleep 10
  done
  echo "warning: apt-get update failed three times ($(grep -m1 '^E:' "$errors" || tail -n1 "$errors"));" \
    "installing from the package lists apt already has" >&2
  rm -f "$errors"
}
# Installs Debian packages (apt-get install's further options may come first, e.g. -t suite).
apt_install() {
  apt_update
  as_root apt-get install -y -q --no-install-recommends "$@" >/dev/null || fail "apt-get install $*"
}
# Runs a command; when it fails, stops the script naming the step.
step() { local what="$1"; shift; "$@" || fail "$what (exit $?)"; }

wine_start() {
  "$WINESERVER" -p 2>/dev/null || true  # already running is fine
  # The first wine process starts Wine's background services; keep its pipes away from the caller.
  "$WINE64" cmd /c exit </dev/null >/dev/null 2>&1 || true
}
wine_stop() {
  "$WINESERVER" -k 2>/dev/null || true
}
# A Windows path of a Unix one; fails loudly instead of yielding an empty text.
win_path() {
  local p
  p="$("$WINE64" winepath -w "$1" </dev/null 2>/dev/null | tr -d '\r')" && [ -n "$p" ] \
    || fail "winepath -w $1"
  printf '%s\n' "$p"
}
