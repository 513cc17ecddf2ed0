#!/usr/bin/env bash
# Takes the host window's pictures for the documentation: the real OstrelaHost
# under Xvfb, its browser integration scripted to answer "enabled" or "disabled"
# (OSTRELA_HOST_SCRIPTED_BROWSER), captured with xwd once the page shows the state.
#   scripts/screenshot-host.sh [build dir] [output folder]
# Defaults: build/default and docs/. Writes host-window-enabled.png and
# host-window.png (the extension off, as the documentation shows it).
set -euo pipefail

if [[ ${1:-} == --inside ]]; then
  host=$2 work=$3 picture=$4
  "$host" 2>"$work/stderr" &
  pid=$!
  for _ in $(seq 200); do
    grep -qs getStateOfExtension "$work/browser/calls" && break
    sleep 0.1
  done
  sleep 5  # the page's answer and its first paint
  xwd -silent -name Ostrela >"$work/window.xwd"
  kill -TERM "$pid"
  wait "$pid" || true
  python3 - "$work/window.xwd" "$picture" <<'PY'
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
  sudo=""
  [[ $(id -u) -ne 0 ]] && sudo="sudo"
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y x11-apps
}
cmake --build "$build" --target OstrelaHost

work=$(mktemp -d)
# WebKit's helper processes may still be writing their caches for a moment after the host quits.
trap 'for _ in 1 2 3 4 5; do rm -rf "$work" 2>/dev/null && break; sleep 0.5; done' EXIT
mkdir -p "$work/browser" "$work/etc/ostrela/managed-preferences" "$work/home" "$work/cache" "$work/data"
export HOME=$work/home XDG_CONFIG_HOME=$work/config XDG_CONFIG_DIRS=$work/etc
export XDG_CACHE_HOME=$work/cache XDG_DATA_HOME=$work/data
# GTK and WebKit draw in software into the X window itself, so that xwd sees the page too.
export OSTRELA_HOST_SCRIPTED_BROWSER=$work/browser GTK_A11Y=none
export GSK_RENDERER=cairo WEBKIT_DISABLE_COMPOSITING_MODE=1

for state in enabled disabled; do
  echo "$state" >"$work/browser/state"
  rm -f "$work/browser/calls"
  picture=$out/host-window-$state.png
  [[ $state == disabled ]] && picture=$out/host-window.png
  xvfb-run -a -s "-screen 0 1024x768x24" "$self" --inside "$build/apps/ostrela_host/OstrelaHost" \
    "$work" "$picture"
  echo "wrote $picture"
done
