#!/usr/bin/env bash
# Checks the Debian package that `make deb` made in the build folder given as $1: it unpacks it
# into a scratch root, runs both programs' --version from there, and runs the validators of the
# desktop entry, the AppStream metadata and the package itself (lintian errors fail).
set -euo pipefail
build=${1:-build}
deb=$(ls -t "$build"/pellory_*.deb 2>/dev/null | head -n 1)
[ -n "$deb" ] || { echo "no pellory_*.deb in $build (run make deb)" >&2; exit 1; }
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT

dpkg-deb -x "$deb" "$root"
echo "unpacked $deb into $root"
"$root/usr/bin/pellory-cli" --version
env -u DISPLAY -u WAYLAND_DISPLAY "$root/usr/bin/pellory" --version
for f in usr/share/man/man1/pellory.1.gz usr/share/man/man1/pellory-cli.1.gz \
         usr/share/applications/org.pellory.Pellory.desktop usr/share/metainfo/org.pellory.Pellory.metainfo.xml \
         usr/share/icons/hicolor/scalable/apps/pellory.svg usr/share/icons/hicolor/48x48/apps/pellory.png \
         usr/share/bash-completion/completions/pellory-cli usr/share/doc/pellory/copyright; do
  [ -e "$root/$f" ] || { echo "missing from the package: /$f" >&2; exit 1; }
done
dpkg-deb -f "$deb" Depends | grep -q libqt6widgets6 || { echo "Depends does not name the Qt libraries" >&2; exit 1; }
dpkg-deb -f "$deb" Depends | grep -q fonts-dejavu-core || { echo "Depends does not name the receipt font" >&2; exit 1; }

desktop-file-validate "$root/usr/share/applications/org.pellory.Pellory.desktop"
appstreamcli validate --no-net "$root/usr/share/metainfo/org.pellory.Pellory.metainfo.xml"
lintian --fail-on error --allow-root "$deb"
echo "package check passed: $deb"
