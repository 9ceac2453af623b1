#!/usr/bin/env bash
# The Windows renderer beside the Linux one: every captured stream of the corpus
# (../shared/escpos-corpus, *.bin), drawn by the Linux pellory-cli and by pellory-cli.exe under
# Wine, must give the same exit status and, where a picture is drawn, the same pixels.
#
#   tools/windows/check_wine_render.sh LINUX_BUILD WINDOWS_BUILD [CORPUS]
#
# WINEPREFIX (default WINDOWS_BUILD/wine) is the Wine prefix to use; it is made when missing.
# PELLORY_WINDOWS_RENDER_ARGS, when set, are more arguments for the Windows side only (to see the
# check fail: --model ORVA80).
set -euo pipefail
PELLORY_WINDOWS_RENDER_ARGS=${PELLORY_WINDOWS_RENDER_ARGS:-}
here="$(cd "$(dirname "$0")" && pwd)"
linux=$(realpath "${1:?the Linux build folder}")
windows=$(realpath "${2:?the Windows build folder}")
corpus=$(realpath "${3:-$here/../../../shared/escpos-corpus}")
cli=$linux/src/cli/pellory-cli
exe=$windows/bin/pellory-cli.exe
wine=${WINE:-/usr/lib/wine/wine64}
[ -x "$cli" ] || { echo "no Linux pellory-cli at $cli" >&2; exit 1; }
[ -f "$exe" ] || { echo "no pellory-cli.exe at $exe" >&2; exit 1; }
export WINEPREFIX=${WINEPREFIX:-$windows/wine} WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
[ -d "$WINEPREFIX/dosdevices" ] || "$wine" wineboot -i >/dev/null 2>&1
"${WINESERVER:-wineserver}" -p 2>/dev/null || true

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
windows_path() { echo "Z:$(echo "$1" | tr / '\\')"; }

# The pixels of a PNG as rows of bytes, whatever its compression: the two programs may compress
# alike or not, the picture is what must be the same.
cat >"$work/pixels.py" <<'EOF'
import struct, sys, zlib
def pixels(path):
    data = open(path, 'rb').read()
    assert data[:8] == b'\x89PNG\r\n\x1a\n', path
    pos, idat, head = 8, b'', None
    while pos < len(data):
        n, kind = struct.unpack('>I4s', data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + n]
        if kind == b'IHDR': head = body
        elif kind == b'IDAT': idat += body
        elif kind == b'PLTE': palette = body
        pos += 12 + n
    w, h, depth, colour = struct.unpack('>IIBB', head[:10])
    channels = {0: 1, 2: 3, 3: 1, 4: 2, 6: 4}[colour]
    bpp = max(1, depth * channels // 8)
    stride = (w * depth * channels + 7) // 8
    raw, rows, prev = zlib.decompress(idat), [], bytearray(stride)
    for y in range(h):
        f, line = raw[y * (stride + 1)], bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride):
            a = line[i - bpp] if i >= bpp else 0
            b, c = prev[i], (prev[i - bpp] if i >= bpp else 0)
            if f == 1: line[i] = (line[i] + a) & 255
            elif f == 2: line[i] = (line[i] + b) & 255
            elif f == 3: line[i] = (line[i] + (a + b) // 2) & 255
            elif f == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                line[i] = (line[i] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
        rows.append(bytes(line)); prev = line
    return (w, h, depth, colour, palette if colour == 3 else None, rows)
a, b = pixels(sys.argv[1]), pixels(sys.argv[2])
sys.exit(0 if a == b else 1)
EOF

count=0 failed=0 compared=0
while IFS= read -r stream; do
  name=${stream#"$corpus"/}
  count=$((count + 1))
  lstatus=0 wstatus=0
  "$cli" render "$stream" -o "$work/linux.png" >/dev/null 2>"$work/linux.err" || lstatus=$?
  # shellcheck disable=SC2086
  "$wine" "$exe" render $PELLORY_WINDOWS_RENDER_ARGS "$(windows_path "$stream")" -o "$(windows_path "$work/windows.png")" >/dev/null \
    2>"$work/windows.err" || wstatus=$?
  if [ "$lstatus" != "$wstatus" ]; then
    echo "FAIL $name: status $lstatus on Linux, $wstatus on Windows:" >&2
    cat "$work/windows.err" >&2
    failed=$((failed + 1))
  elif [ -f "$work/linux.png" ]; then
    compared=$((compared + 1))
    if ! python3 "$work/pixels.py" "$work/linux.png" "$work/windows.png"; then
      echo "FAIL $name: the pictures differ" >&2
      failed=$((failed + 1))
    fi
  fi
  rm -f "$work/linux.png" "$work/windows.png"
done < <(find "$corpus" -type f -name '*.bin' | sort)
[ "$count" -gt 0 ] || { echo "no *.bin stream under $corpus" >&2; exit 1; }
if [ "$failed" -gt 0 ]; then
  echo "$failed of $count corpus streams render differently on Windows" >&2
  exit 1
fi
echo "the $count corpus streams end alike on Linux and Windows, and the $compared pictures drawn have the same pixels"
