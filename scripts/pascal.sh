#!/usr/bin/env bash
# Builds, once, what Free Pascal needs to compile the Delphi examples for Windows, from Debian's
# fpc-source: the win64 run-time library, the 32-bit cross compiler, the win32 run-time library
# and the COM units the examples use (ComObj, ActiveX, Variants). Debian packages none of them.
# Everything lands in build/fpc, which ends with two commands that compile a program:
#   build/fpc/bin/fpc-win64 program.dpr        build/fpc/bin/fpc-win32 program.dpr
# A stamp written last records what the cache was built from; a cache without it (a build that
# stopped half way) or with another one (new packages, a changed recipe) is rebuilt from scratch.
set -euo pipefail
source "$(dirname "$0")/env.sh"

cache="${FPC_CACHE:-$ROOT/build/fpc}"
ppcx64="$(command -v ppcx64)" || fail "no ppcx64 on PATH (Debian package fp-compiler)"
command -v fpcmake >/dev/null || fail "no fpcmake on PATH (Debian package fp-utils)"
command -v make >/dev/null || fail "no make on PATH"
version="$("$ppcx64" -iV)"
sources="${FPC_SOURCE:-/usr/share/fpcsrc/$version}"  # where fpc-source-<version> puts them
[ -d "$sources/rtl" ] && [ -d "$sources/compiler" ] \
  || fail "no Free Pascal $version sources in $sources (Debian package fpc-source-$version)"
# Debian's sources lack the compiler's message file; the installed compiler carries it.
messages="$(dirname "$(readlink -f "$ppcx64")")/msg/errore.msg"
[ -f "$messages" ] || fail "no compiler message file at $messages"
packages="$sources/packages"

stamp="$cache/stamp"
recipe="$(sha256sum "${BASH_SOURCE[0]}" | cut -d' ' -f1)"
wanted="compiler $("$ppcx64" -iW); sources $(dpkg-query -W -f='${Version}' "fpc-source-$version" \
  2>/dev/null || echo "$sources"); recipe $recipe; cache $cache"
if [ -f "$stamp" ] && [ "$(cat "$stamp")" == "$wanted" ] \
   && [ -x "$cache/bin/fpc-win64" ] && [ -x "$cache/bin/fpc-win32" ]; then
  exit 0
fi

started=$SECONDS
echo "building the Free Pascal toolchain for Windows in $cache (cross compiler, win64 and win32 units)"
rm -rf "$cache"
mkdir -p "$cache/bin" "$cache/logs"
# Runs a step with its output in a log; on failure prints the log's end and stops.
logged() {  # name command...
  local name="$1"; shift
  "$@" >"$cache/logs/$name.log" 2>&1 || {
    tail -n 20 "$cache/logs/$name.log" >&2
    fail "Free Pascal: $name (log: $cache/logs/$name.log)"
  }
}

# The run-time library's makefiles write beside the sources: work on a copy.
cp -r "$sources/rtl" "$sources/compiler" "$cache/"
touch "$cache/rtl/x86_64/makefile.cpu" "$cache/rtl/i386/makefile.cpu"
build_rtl() {  # os compiler
  (cd "$cache/rtl/$1" && fpcmake -T"$1" && make all FPC="$2" OS_TARGET="$1")
}
logged rtl-win64 build_rtl win64 "$ppcx64"

# The 32-bit cross compiler: its message tables are generated from the message file first.
build_cross_compiler() {
  cd "$cache/compiler"
  mkdir -p utils/units units
  "$ppcx64" -FUutils/units utils/msg2inc.pp -outils/msg2inc
  utils/msg2inc "$messages" msg msg
  "$ppcx64" -Ur -dI386 -Fux86 -Fui386 -Fusystems -Fii386 -Fix86 -FUunits pp.pas \
    -o"$cache/bin/ppcross386"
}
logged cross-compiler build_cross_compiler
logged rtl-win32 build_rtl win32 "$cache/bin/ppcross386"
# Only the built units stay; the copies of the sources go.
mv "$cache/rtl/units" "$cache/rtl-units"
rm -rf "$cache/rtl" "$cache/compiler"

# Per target: a configuration that names only the built units (-n: not the Linux ones of
# /etc/fpc.cfg), the COM units compiled into it, and the command that compiles with it.
make_target() {  # os cpu compiler
  local os="$1" cpu="$2" compiler="$3" units="$cache/units/$2-$1"
  mkdir -p "$units"
  printf '%s\n' "-T$os" "-P$cpu" "-Fu$cache/rtl-units/$cpu-$os" "-Fu$units" >"$cache/$os.cfg"
  "$compiler" -n @"$cache/$os.cfg" -FU"$units" -Fu"$packages/winunits-base/src" \
    -Fu"$packages/rtl-objpas/src/inc" -Fu"$packages/rtl-objpas/src/win" \
    -Fi"$packages/rtl-objpas/src/inc" -Fu"$packages/fcl-base/src" \
    -Fu"$packages/fcl-registry/src" "$packages/winunits-base/src/comobj.pp"
  printf '#!/bin/sh\n# Compiles a %s program with the units of %s.\nexec "%s" -n @"%s" "$@"\n' \
    "$os" "$cache" "$compiler" "$cache/$os.cfg" >"$cache/bin/fpc-$os"
  chmod +x "$cache/bin/fpc-$os"
  # A program that uses the COM units must compile and link.
  local probe="$cache/probe-$os"
  mkdir -p "$probe"
  printf 'program probe;\n{$MODE DELPHI}\nuses SysUtils, Variants, ActiveX, ComObj;\nbegin\nend.\n' \
    >"$probe/probe.dpr"
  "$cache/bin/fpc-$os" -FU"$probe" -FE"$probe" "$probe/probe.dpr"
  [ -f "$probe/probe.exe" ] || { echo "no probe.exe for $os"; return 1; }
  rm -rf "$probe"
}
logged units-win64 make_target win64 x86_64 "$ppcx64"
logged units-win32 make_target win32 i386 "$cache/bin/ppcross386"

printf '%s\n' "$wanted" >"$stamp"
echo "Free Pascal toolchain for win64 and win32 built in $((SECONDS - started)) s"
