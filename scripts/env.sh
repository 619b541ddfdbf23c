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
# Installs Debian packages (apt-get install's further options may come first, e.g. -t suite).
apt_install() {
  as_root apt-get update -q >/dev/null || fail "apt-get update"
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
