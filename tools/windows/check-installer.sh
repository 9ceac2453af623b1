#!/usr/bin/env bash
# tools/windows/check-installer.sh BUILD
# The Windows installer made by cpack in BUILD, tried under Wine in the build's own Wine prefix:
# it installs silently into Program Files with its Start menu folder and its uninstaller; the
# installed programs and DLLs find every DLL they import (check-dlls.sh); the installed
# pellory-cli.exe prints the build's version; the uninstaller, silent too, removes the
# programs, the DLLs, the fonts and the Start menu folder again. Any step that fails stops the
# check with status 1 and says which.
set -euo pipefail
build="$(cd "${1:?usage: $0 BUILD}" && pwd)"
here="$(cd "$(dirname "$0")" && pwd)"
fail() {
  echo "check-installer: $*" >&2
  exit 1
}
version="$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")"
[ -n "$version" ] || fail "no project version in $build/CMakeCache.txt"
installer="$build/pellory-$version-win64.exe"
[ -f "$installer" ] || fail "$installer is missing (cd $build && cpack)"
. "$here/wine-env.sh"

dir="$WINEPREFIX/drive_c/Program Files/Pellory"
menu="$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Pellory"
# The uninstaller copies itself away and returns at once: wait, bounded, for what it removes.
wait_removed() {
  local tries=0
  while [ -e "$dir/pellory-cli.exe" ] || [ -e "$dir/Uninstall.exe" ] || [ -e "$dir/Qt6Core.dll" ]; do
    tries=$((tries + 1))
    [ $tries -le 120 ] || return 1
    sleep 0.5
  done
}
# An installation left by an earlier run goes first.
if [ -e "$dir/Uninstall.exe" ]; then
  "$wine" "$dir/Uninstall.exe" /S || true
  wait_removed || true
fi
rm -rf "$dir" "$menu"

echo "check-installer: installing $(basename "$installer")"
"$wine" "$installer" /S || fail "the installer exited with $?"
for file in Uninstall.exe Qt6Core.dll Qt6Gui.dll Qt6Widgets.dll libstdc++-6.dll libgcc_s_seh-1.dll \
            libwinpthread-1.dll zlib1.dll platforms/qwindows.dll platforms/qoffscreen.dll \
            styles/qwindowsvistastyle.dll fonts/DejaVuSansMono.ttf fonts/DejaVuSans.ttf \
            fonts/TlwgMono.ttf fonts/wqy-zenhei.ttc fonts/FONTS.txt; do
  [ -f "$dir/$file" ] || fail "the installer did not install $file into C:\\Program Files\\Pellory"
done
"$here/check-dlls.sh" "$dir" || fail "an installed program or DLL lacks a DLL it imports"
[ -f "$dir/pellory-cli.exe" ] || fail "the installer did not install pellory-cli.exe into C:\\Program Files\\Pellory"
ls "$menu"/*.lnk >/dev/null 2>&1 || fail "no Start menu entry in $menu"
"$wine" reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Pellory' /v UninstallString \
  >/dev/null 2>&1 || fail "the uninstaller is not registered in the 64-bit registry"

said="$("$wine" 'C:\Program Files\Pellory\pellory-cli.exe' --version | tr -d '\r')" ||
  fail "the installed pellory-cli.exe --version exited with $?"
[ "$said" = "pellory-cli $version" ] || fail "the installed pellory-cli.exe --version printed \"$said\""
echo "check-installer: the installed pellory-cli.exe --version printed \"$said\""

"$wine" "$dir/Uninstall.exe" /S || fail "the uninstaller exited with $?"
wait_removed || fail "the uninstaller left the programs in C:\\Program Files\\Pellory"
left="$(find "$dir" -type f 2>/dev/null | head -n 5 || true)"  # no folder left is fine
[ -z "$left" ] || fail "the uninstaller left files: $left"
[ ! -e "$menu" ] || fail "the uninstaller left the Start menu folder"
if "$wine" reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Pellory' >/dev/null 2>&1; then
  fail "the uninstaller left its registry key"
fi
echo "check-installer: installed, ran and uninstalled"
