#!/usr/bin/env bash
# Builds both DLLs and the installer, then makes the release bundle
# build/release/KarvoDgramix-<version>.zip: the installer, both DLLs (as shipped, without debugging
# information), the reference, the examples and a getting-started text.
set -euo pipefail
source "$(dirname "$0")/env.sh"
"$ROOT/scripts/setup.sh"
"$ROOT/scripts/build.sh"

version="$(sed -n 's/^project([^)]*VERSION \([0-9.]*\).*/\1/p' "$ROOT/CMakeLists.txt")"
[ -n "$version" ] || fail "no project version in CMakeLists.txt"
name="KarvoDgramix-$version"
installer="$BUILD64/installer"
setup="$installer/$name-setup.exe"
for f in "$setup" "$installer/x64/udp.ocx" "$installer/x86/udp.ocx"; do
  [ -f "$f" ] || fail "missing $f (the installer is made once both trees are built)"
done

out="$ROOT/build/release"
stage="$out/$name"
rm -rf "$stage" "$out/$name.zip"
mkdir -p "$stage/x64" "$stage/x86"
cp "$setup" "$stage/"
cp "$installer/x64/udp.ocx" "$stage/x64/"
cp "$installer/x86/udp.ocx" "$stage/x86/"
cp "$ROOT/docs/reference.md" "$stage/"
cp -r "$ROOT/examples" "$stage/"
# Windows line endings: the text is read with Notepad.
sed "s/@VERSION@/$version/g; s/\$/\r/" "$ROOT/docs/getting-started.txt" > "$stage/GETTING-STARTED.txt"
(cd "$out" && cmake -E tar cf "$name.zip" --format=zip "$name") || fail "zipping $name"
echo "release bundle: $out/$name.zip"
