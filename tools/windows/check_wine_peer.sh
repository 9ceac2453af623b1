#!/usr/bin/env bash
# The Windows pellory-cli.exe beside the Linux pellory-cli, against the Linux printer server:
# every action, over a COM port (a Wine COM port mapped to the server's pseudo-terminal) and over
# tcp://, must end with the same exit status, leave the same history rows and reach the printer
# as the same bytes from both programs.
#
#   tools/windows/check_wine_peer.sh LINUX_BUILD WINDOWS_BUILD
#
# WINEPREFIX (default WINDOWS_BUILD/wine) is the Wine prefix to use; it is made when missing.
set -euo pipefail
linux=$(realpath "${1:?the Linux build folder}")
windows=$(realpath "${2:?the Windows build folder}")
cli=$linux/src/cli/pellory-cli
exe=$windows/bin/pellory-cli.exe
wine=${WINE:-/usr/lib/wine/wine64}
[ -x "$cli" ] || { echo "no Linux pellory-cli at $cli" >&2; exit 1; }
[ -f "$exe" ] || { echo "no pellory-cli.exe at $exe" >&2; exit 1; }
export WINEPREFIX=${WINEPREFIX:-$windows/wine} WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY

work=$(mktemp -d)
server=""
cleanup() {
  [ -n "$server" ] && kill "$server" 2>/dev/null && wait "$server" 2>/dev/null
  rm -f "$WINEPREFIX/dosdevices/com7"
  rm -rf "$work"
}
trap cleanup EXIT

[ -d "$WINEPREFIX/dosdevices" ] || "$wine" wineboot -i >/dev/null 2>&1
"${WINESERVER:-wineserver}" -p 2>/dev/null || true  # one server for every run below

# A 24-bit picture of 64 x 24 dots: a diagonal band, so that each stripe differs.
python3 - "$work/picture.bmp" <<'EOF'
import struct, sys
w, h = 64, 24
row = (w * 3 + 3) & ~3
pixels = bytearray()
for y in range(h - 1, -1, -1):
    line = bytearray()
    for x in range(w):
        v = 0 if abs(x - 2 * y) < 6 else 255
        line += bytes((v, v, v))
    pixels += line + bytes(row - len(line))
header = struct.pack('<2sIHHI', b'BM', 54 + len(pixels), 0, 0, 54)
info = struct.pack('<IiiHHIIiiII', 40, w, h, 1, 24, 0, len(pixels), 2835, 2835, 0, 0)
open(sys.argv[1], 'wb').write(header + info + pixels)
EOF

# Each action's arguments, separated by "|".
actions=(
  "probe"
  "status|--states"
  "sample|font"
  "text|Pellory on two systems"
  "hex|1B 40 1B 61 01"
  "barcode|--type|EAN13|--data|400638133393|--hri|below"
  "image|PICTURE|--vertical|2"
)

# Starts the server on a pseudo-terminal (com) or a loopback port (tcp), jobs into $1.
start_server() {
  local jobs=$1 transport=$2
  mkfifo "$work/in"
  if [ "$transport" = com ]; then
    "$cli" serve --pty "$work/link" --jobs "$jobs" --idle-end 1 <"$work/in" >/dev/null 2>"$work/serve.err" &
  else
    "$cli" serve --listen "127.0.0.1:$port" --jobs "$jobs" --idle-end 1 <"$work/in" >/dev/null 2>"$work/serve.err" &
  fi
  server=$!
  exec 3>"$work/in"
  for _ in $(seq 100); do
    grep -q "jobs written to" "$work/serve.err" 2>/dev/null && return 0
    sleep 0.1
  done
  echo "the printer server did not start:" >&2; cat "$work/serve.err" >&2; exit 1
}

stop_server() {
  echo quit >&3
  exec 3>&-
  wait "$server"
  server=""
  rm -f "$work/in"
}

# Runs every action from one side ("linux" or "windows") over one transport; writes the exit
# statuses and the bytes the printer received beside the history files.
run_side() {
  local side=$1 transport=$2 port_arg
  start_server "$work/$side-$transport-jobs" "$transport"
  if [ "$transport" = com ]; then
    if [ "$side" = linux ]; then port_arg=$work/link; else
      ln -sfn "$(readlink -f "$work/link")" "$WINEPREFIX/dosdevices/com7"
      port_arg=COM7
    fi
  else
    port_arg=tcp://127.0.0.1:$port
  fi
  local i=0 status
  for action in "${actions[@]}"; do
    i=$((i + 1))
    local args picture
    if [ "$side" = linux ]; then picture=$work/picture.bmp; else picture="Z:$(echo "$work/picture.bmp" | tr / '\\')"; fi
    IFS='|' read -r -a args <<<"${action/PICTURE/"$picture"}"
    local history=$work/$side-$transport-$i.txt
    if [ "$side" = linux ]; then
      "$cli" --port "$port_arg" --handshake none --history "$history" "${args[@]}" >"$history.out" 2>&1 && status=0 || status=$?
    else
      "$wine" "$exe" --port "$port_arg" --handshake none --history "Z:$(echo "$history" | tr / '\\')" \
        "${args[@]}" >"$history.out" 2>&1 && status=0 || status=$?
    fi
    echo "$action: $status" >>"$work/$side-$transport.status"
  done
  sleep 1.5  # past the server's idle end, so that the last job is whole
  stop_server
  cat $(ls "$work/$side-$transport-jobs"/*/bytes.bin | sort) >"$work/$side-$transport.bytes"
}

port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
failed=0
for transport in com tcp; do
  run_side linux "$transport"
  # The Linux side must have done every action, or an equal failure on both would pass.
  if grep -v ': 0$' "$work/linux-$transport.status" >&2 || [ ! -s "$work/linux-$transport.bytes" ]; then
    echo "FAIL $transport: the Linux pellory-cli did not do every action:" >&2
    cat "$work"/linux-"$transport"-*.out >&2
    exit 1
  fi
  run_side windows "$transport"
  if ! cmp -s "$work/linux-$transport.status" "$work/windows-$transport.status"; then
    echo "FAIL $transport: exit statuses differ (Linux, then Windows):" >&2
    diff "$work/linux-$transport.status" "$work/windows-$transport.status" >&2 || true
    failed=1
  fi
  for i in $(seq ${#actions[@]}); do
    if ! cmp -s "$work/linux-$transport-$i.txt" "$work/windows-$transport-$i.txt"; then
      echo "FAIL $transport: history rows of '${actions[$((i - 1))]}' differ:" >&2
      diff "$work/linux-$transport-$i.txt" "$work/windows-$transport-$i.txt" >&2 || true
      echo "Windows said:" >&2; cat "$work/windows-$transport-$i.txt.out" >&2
      failed=1
    fi
  done
  if ! cmp -s "$work/linux-$transport.bytes" "$work/windows-$transport.bytes"; then
    echo "FAIL $transport: the printer received different bytes ($(stat -c %s "$work/linux-$transport.bytes") from Linux, $(stat -c %s "$work/windows-$transport.bytes") from Windows)" >&2
    cmp "$work/linux-$transport.bytes" "$work/windows-$transport.bytes" >&2 || true
    failed=1
  fi
  [ "$failed" = 0 ] && echo "$transport: ${#actions[@]} actions, $(stat -c %s "$work/linux-$transport.bytes") bytes and every history row the same from both programs"
done
exit "$failed"
