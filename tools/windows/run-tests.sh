#!/usr/bin/env bash
# tools/windows/run-tests.sh BUILD [ctest options...]
# Runs the Windows build's tests under Wine: ctest starts each test program through the
# toolchain's cross emulator (Wine) in the build's own Wine prefix. Qt tests use the offscreen
# platform; the tests labelled "window", which need a real window, run under a virtual X display.
set -euo pipefail
build="$(cd "${1:?usage: $0 BUILD [ctest options]}" && pwd)"
shift
here="$(cd "$(dirname "$0")" && pwd)"
. "$here/wine-env.sh"
export QT_QPA_PLATFORM=offscreen
status=0
ctest --test-dir "$build" --output-on-failure --no-tests=error -LE '^window$' "$@" || status=$?
if [ -n "$(ctest --test-dir "$build" -N -L '^window$' "$@" | grep -E '^ +Test +#')" ]; then
  env -u QT_QPA_PLATFORM xvfb-run -a ctest --test-dir "$build" --output-on-failure -L '^window$' "$@" || status=$?
fi
exit $status
