#!/usr/bin/env bash
# Takes the host window's pictures for the documentation: the real OstrelaHost
# under Xvfb, in a home folder of its own, captured with xwd once it has
# published and its window has settled on the state it found. "disabled": no
# browser here has the native-messaging host registered; "enabled": the host is
# registered for the user in every browser's folder (an installed browser of
# browsers/browsers.table is needed, such as Debian's chromium).
#   scripts/screenshot-host.sh [build dir] [output folder]
# Defaults: build/default and docs/. Writes host-window-enabled.png and
# host-window.png (the extension off, as the documentation shows it). Run as
# root, the host runs as nobody: as root it would not read a user's folders.
set -euo pipefail

if [[ ${1:-} == --inside ]]; then
  host=$2 work=$3
  "$host" 2>"$work/stderr" &
  pid=$!
  # What OstrelaHost shows: publication first, then its window, then the page with the
  # state it found (in under a second; "unknown" after 5 s without one). A picture that
  # stays the same for 1.5 s, once it has changed from the first one, is the settled page.
  for _ in $(seq 100); do
    grep -qs 'Published and read back' "$work/stderr" && xwininfo -name Ostrela >/dev/null 2>&1 &&
      break
    sleep 0.1
  done
  xwd -silent -name Ostrela >"$work/first.xwd"
  same=0 changed=0
  for _ in $(seq 40); do
    sleep 0.5
    xwd -silent -name Ostrela >"$work/window.xwd"
    cmp -s "$work/window.xwd" "$work/first.xwd" || changed=1
    if cmp -s "$work/window.xwd" "$work/last.xwd" 2>/dev/null; then same=$((same + 1)); else same=0; fi
    cp "$work/window.xwd" "$work/last.xwd"
    ((changed && same >= 3)) && break
  done
  kill -TERM "$pid"
  wait "$pid" || true
  python3 - "$work/window.xwd" "$work/window.png" <<'PY'
# XWD (ZPixmap, 32 bits per pixel, true colour) to an 8-bit RGB PNG.
import struct, sys, zlib
data = open(sys.argv[1], 'rb').read()
h = struct.unpack('>25I', data[:100])
size, width, height, order, bpp, stride, masks, ncolors = h[0], h[4], h[5], h[7], h[11], h[12], h[14:17], h[19]
if bpp != 32:
    sys.exit(f'unexpected {bpp} bits per pixel')
pixels = data[size + 12 * ncolors:]
shifts = [(m & -m).bit_length() - 1 for m in masks]
rows = []
for y in range(height):
    row = bytearray(b'\0')
    for x in range(width):
        p = int.from_bytes(pixels[y * stride + 4 * x:y * stride + 4 * x + 4], 'little' if order == 0 else 'big')
        row += bytes((p & m) >> s for m, s in zip(masks, shifts))
    rows.append(bytes(row))
def chunk(kind, body):
    return struct.pack('>I', len(body)) + kind + body + struct.pack('>I', zlib.crc32(kind + body))
png = b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', width, height, 8, 2, 0, 0, 0))
png += chunk(b'IDAT', zlib.compress(b''.join(rows), 9)) + chunk(b'IEND', b'')
open(sys.argv[2], 'wb').write(png)
PY
  exit 0
fi

self=$(realpath "$0")
root=$(dirname "$self")/..
build=$(realpath "${1:-$root/build/default}")
out=$(realpath "${2:-$root/docs}")
command -v xwd >/dev/null || {
  source "$root/scripts/as_root.sh"
  as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y x11-apps
}
cmake --build "$build" --target OstrelaHost OstrelaExtension

work=$(mktemp -d)
# WebKit's helper processes may still be writing their caches for a moment after the host quits.
trap 'for _ in 1 2 3 4 5; do rm -rf "$work" 2>/dev/null && break; sleep 0.5; done' EXIT
mkdir -p "$work/etc" "$work/home" "$work/cache" "$work/data"
as_user=()
if [[ $(id -u) -eq 0 ]]; then
  chown -R nobody:nogroup "$work"
  as_user=(setpriv --reuid=nobody --regid=nogroup --clear-groups)
fi
export HOME=$work/home XDG_CONFIG_HOME=$work/config XDG_CONFIG_DIRS=$work/etc
export XDG_CACHE_HOME=$work/cache XDG_DATA_HOME=$work/data
export OSTRELA_LOG_LEVEL=debug GTK_A11Y=none
# GTK and WebKit draw in software into the X window itself, so that xwd sees the page too.
export GSK_RENDERER=cairo WEBKIT_DISABLE_COMPOSITING_MODE=1

for state in enabled disabled; do
  manifests=("$build/ostrela-native-host-manifests" --user --chrome-id abcdefghijklmnopabcdefghijklmnop
             --firefox-id ostrela@example.org --executable "$build/apps/ostrela_extension/OstrelaExtension")
  if [[ $state == enabled ]]; then
    "${as_user[@]}" "${manifests[@]}" >/dev/null
  else
    "${as_user[@]}" "${manifests[@]}" --remove >/dev/null
  fi
  picture=$out/host-window-$state.png
  [[ $state == disabled ]] && picture=$out/host-window.png
  "${as_user[@]}" xvfb-run -a -s "-screen 0 1024x768x24" "$self" --inside \
    "$build/apps/ostrela_host/OstrelaHost" "$work"
  cp "$work/window.png" "$picture"
  echo "wrote $picture"
done
