#!/usr/bin/env bash
# tools/windows/run-tests.sh BUILD [ctest options...]
# Runs the Windows build's tests under Wine: ctest starts each test program through the
# toolchain's cross emulator (Wine) in the build's own Wine prefix. Qt tests use the offscreen
# platform; the tests labelled "window", which need a real window, run under a virtual X display.
# First, every program and DLL of BUILD/bin must find the DLLs it imports (check-dlls.sh).
set -euo pipefail
build="$(cd "${1:?usage: $0 BUILD [ctest options]}" && pwd)"
shift
here="$(cd "$(dirname "$0")" && pwd)"
"$here/check-dlls.sh" "$build/bin"
. "$here/wine-env.sh"
export QT_QPA_PLATFORM=offscreen
status=0
ctest --test-dir "$build" --output-on-failure --no-tests=error -LE '^window$' "$@" || status=$?
if [ -n "$(ctest --test-dir "$build" -N -L '^window$' "$@" | grep -E '^ +Test +#')" ]; then
  # Wine's desktop process, started by the first program of a server's session, keeps the display
  # it found: the window tests get a session of their own, started on the virtual display.
  wineserver -k 2>/dev/null || true
  wineserver -w
  env -u QT_QPA_PLATFORM xvfb-run -a sh -c 'wineserver -p && exec ctest "$@"' ctest \
    --test-dir "$build" --output-on-failure -L '^window$' "$@" || status=$?
fi
exit $status
