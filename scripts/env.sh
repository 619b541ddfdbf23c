# Sourced by the other scripts: where things live and how Wine runs headless.
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD64="${BUILD64:-$ROOT/build/x64}"
BUILD32="${BUILD32:-$ROOT/build/x86}"
export WINEPREFIX="${WINEPREFIX:-$BUILD64/wineprefix}"
export WINEARCH=win64
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
WINE64="$(command -v wine64 || echo /usr/lib/wine/wine64)"
WINESERVER="$(command -v wineserver || echo /usr/lib/wine/wineserver)"
export WINE64 WINESERVER

wine_start() {
  "$WINESERVER" -p 2>/dev/null || true  # already running is fine
  # The first wine process starts Wine's background services; keep its pipes away from the caller.
  "$WINE64" cmd /c exit </dev/null >/dev/null 2>&1 || true
}
wine_stop() {
  "$WINESERVER" -k 2>/dev/null || true
}
