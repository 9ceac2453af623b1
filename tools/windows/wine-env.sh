# Sourced by the scripts of tools/windows/ with the build folder in $build: a Wine of the build's
# own (WINEPREFIX under the build folder, made once, without the Mono and Gecko installers),
# quiet and headless, and one wineserver kept for the whole run and stopped at its end.
wine=/usr/lib/wine/wine64
[ -x "$wine" ] || wine="$(command -v wine64 || command -v wine)"
export WINEPREFIX="$build/wine"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEARCH=win64
unset DISPLAY WAYLAND_DISPLAY
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "wine: making $WINEPREFIX"
  wineboot -i >/dev/null 2>&1
  wineserver -w
fi
# Kept until wine_stop; every Wine program of the run uses this one server.
wineserver -p 2>/dev/null || true  # one may already be running for this prefix
wine_stop() { wineserver -k 2>/dev/null || true; }
trap wine_stop EXIT
