#!/usr/bin/env bash
# Makes 32-bit Linux programs (Wine's 32-bit loader) run on a kernel built without 32-bit support,
# where they fail with "Exec format error": qemu's user-mode emulator is installed and registered
# with binfmt_misc for i386 programs. Does nothing where the kernel runs them itself.
# qemu 7.2 (bookworm) takes a minute to start each Wine process (its mmap is slow for the address
# space Wine reserves at start); qemu 10 from bookworm-backports takes seconds, so that one is used.
set -euo pipefail
source "$(dirname "$0")/env.sh"

# The URIs and keyring of the configured source that serves the suite "$1" with main (deb822
# .sources files or one-line lists); the keyring is "-" when the source names none.
debian_source() {
  local codename="$1" file
  for file in /etc/apt/sources.list.d/*.sources; do
    [ -f "$file" ] || continue
    awk -v suite="$codename" '
      function flush() {
        if (types ~ /(^| )deb( |$)/ && (" " suites " ") ~ (" " suite " ") && (" " comps " ") ~ / main /)
          { print uris, (key == "" ? "-" : key); found = 1; exit }
        types = suites = comps = uris = key = ""
      }
      /^[[:space:]]*#/ { next }
      /^[[:space:]]*$/ { flush(); next }
      { field = tolower($1); sub(/^[^:]*:[[:space:]]*/, "") }
      field == "types:" { types = $0 } field == "suites:" { suites = $0 }
      field == "components:" { comps = $0 } field == "uris:" { uris = $0 }
      field == "signed-by:" { key = $0 }
      END { if (!found) flush() }' "$file" | grep . && return 0
  done
  for file in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [ -f "$file" ] || continue
    awk -v suite="$codename" '
      $1 != "deb" { next }
      { key = "-"; i = 2 }
      $2 ~ /^\[/ { while (i <= NF) { if ($i ~ /signed-by=/) { key = $i; sub(/.*signed-by=/, "", key);
                                                             sub(/\]$/, "", key) }
                                    if ($i ~ /\]$/) break; i++ }
                   i++ }
      $(i + 1) == suite { for (c = i + 2; c <= NF; c++) if ($c == "main") { print $i, key; exit } }
      ' "$file" | grep . && return 0
  done
  return 1
}
runs_i386() { "$WINE32" --version >/dev/null 2>&1; }
runs_i386 && exit 0
echo "this kernel runs no 32-bit program: running them under qemu-i386"
[ "$(id -u)" -eq 0 ] || fail "registering qemu-i386 with binfmt_misc needs root"

qemu=/usr/bin/qemu-i386-static
if ! "$qemu" --version 2>/dev/null | grep -qE 'version ([89]|[1-9][0-9])\.'; then
  source /etc/os-release
  codename="${VERSION_CODENAME:?no VERSION_CODENAME in /etc/os-release}"
  suite="$codename-backports"
  list=/etc/apt/sources.list.d/$suite.sources
  if ! grep -rqs "$suite" /etc/apt/sources.list /etc/apt/sources.list.d; then
    # The suite comes from where the machine's own Debian packages come from (a mirror stays one).
    read -r uris keyring < <(debian_source "$codename") && [ -n "$uris" ] \
      || fail "no Debian source for $codename in /etc/apt/sources.list or sources.list.d"
    [ "$keyring" != - ] || keyring=
    printf '%s\n' "Types: deb" "URIs: $uris" "Suites: $suite" "Components: main" \
      ${keyring:+"Signed-By: $keyring"} > "$list" || fail "writing $list"
  fi
  apt_install -t "$suite" qemu-user-static
fi
qemu="$(readlink -f "$qemu")"

misc=/proc/sys/fs/binfmt_misc
mountpoint -q "$misc" || mount -t binfmt_misc binfmt_misc "$misc" || fail "mounting $misc"
# An older registration may name another qemu; F opens the interpreter now, so it works anywhere.
[ -e "$misc/qemu-i386" ] && { echo -1 > "$misc/qemu-i386" || fail "removing the old qemu-i386 entry"; }
magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
printf '%s' ":qemu-i386:M::$magic:$mask:$qemu:F" > "$misc/register" \
  || fail "registering qemu-i386 with binfmt_misc"
runs_i386 || fail "32-bit Wine does not run even under $qemu"
echo "32-bit programs run under $("$qemu" --version | head -1)"
