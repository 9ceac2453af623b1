#!/usr/bin/env bash
# tools/windows/build-deps.sh PREFIX
# Cross-builds for 64-bit Windows (mingw-w64, posix threads) the libraries Pellory needs that
# Debian ships no mingw package of: FreeType, zint (the library alone), libjpeg-turbo (without
# SIMD) and GoogleTest (gtest and gmock) as static libraries, zint as a DLL (its build always
# makes one; bin/libzint.dll goes beside the programs), and puts cpp-httplib's single header
# beside them. zlib comes from Debian's libz-mingw-w64-dev.
#
# The sources are Debian's own source packages, fetched by apt through a private apt state in the
# work folder (made from the machine's own package sources, turned into deb-src), so the
# machine's apt state is left untouched and the project names no mirror.
#
# Idempotent: a complete PREFIX holds a stamp file and the script then returns at once. The work
# folder of sources and builds (WORK, PREFIX.work unless given) may be deleted afterwards.
set -euo pipefail

if [ $# -ne 1 ]; then
  echo "usage: $0 PREFIX" >&2
  exit 2
fi
mkdir -p "$1"
prefix="$(cd "$1" && pwd)"
work="${WORK:-$prefix.work}"
toolchain="${PELLORY_TOOLCHAIN:-/work/shared/toolchains/mingw-w64-x86_64.cmake}"
jobs="${JOBS:-2}"
# The source packages, one per library. The stamp names them and the recipe's number: a change of
# the list, or of the build options below with the number raised, rebuilds the prefix.
packages=(freetype zint libjpeg-turbo googletest cpp-httplib)
recipe=1
stamp="$prefix/.pellory-deps"
want="packages: ${packages[*]}; recipe: $recipe"
if [ -f "$stamp" ] && [ "$(cat "$stamp")" = "$want" ]; then
  echo "build-deps: $prefix is complete"
  exit 0
fi
start=$SECONDS
mkdir -p "$work"
work="$(cd "$work" && pwd)"

# --- A private apt that knows the machine's sources as deb-src ---------------------------------
apt_root="$work/apt"
mkdir -p "$apt_root/sources.list.d" "$apt_root/preferences.d" "$apt_root/state/lists/partial" \
         "$apt_root/cache/archives/partial"
found=0
for list in /etc/apt/sources.list.d/*.sources; do
  [ -f "$list" ] || continue
  sed -E 's/^Types:.*/Types: deb-src/' "$list" > "$apt_root/sources.list.d/$(basename "$list")"
  found=1
done
for list in /etc/apt/sources.list.d/*.list /etc/apt/sources.list; do
  [ -f "$list" ] || continue
  sed -nE 's/^[[:space:]]*deb([[:space:]])/deb-src\1/p' "$list" > "$apt_root/sources.list.d/$(basename "$list").list"
  found=1
done
if [ "$found" -eq 0 ]; then
  echo "build-deps: no apt sources under /etc/apt" >&2
  exit 1
fi
apt_options=(-o "Dir::Etc::sourcelist=/dev/null" -o "Dir::Etc::sourceparts=$apt_root/sources.list.d"
             -o "Dir::Etc::preferencesparts=$apt_root/preferences.d"
             -o "Dir::State=$apt_root/state" -o "Dir::State::status=/var/lib/dpkg/status"
             -o "Dir::Cache=$apt_root/cache" -o "Debug::NoLocking=1" -o "APT::Sandbox::User=root"
             -o "Acquire::Languages=none")
if [ ! -f "$apt_root/updated" ]; then
  apt-get "${apt_options[@]}" -qq update
  touch "$apt_root/updated"
fi

src="$work/src"
mkdir -p "$src"
# fetch <source package>: unpacks its source (with Debian's patches) once; prints the folder.
fetch() {
  local name="$1" dir
  dir="$(find "$src" -mindepth 1 -maxdepth 1 -type d -name "$name-*" | head -n 1)"
  if [ -z "$dir" ]; then
    (cd "$src" && apt-get "${apt_options[@]}" -qq source "$name" >/dev/null)
    dir="$(find "$src" -mindepth 1 -maxdepth 1 -type d -name "$name-*" | head -n 1)"
  fi
  if [ -z "$dir" ]; then
    echo "build-deps: no source of $name" >&2
    exit 1
  fi
  echo "$dir"
}

launcher=()
if command -v ccache >/dev/null 2>&1; then
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
generator=()
if command -v ninja >/dev/null 2>&1; then generator=(-G Ninja); fi
# build <name> <source folder> <cmake options...>: configures, builds and installs into PREFIX.
# (Raise the recipe's number above when changing what these make.)
build() {
  local name="$1" source="$2"
  shift 2
  local t=$SECONDS
  rm -rf "$work/build/$name"
  cmake -S "$source" -B "$work/build/$name" "${generator[@]}" "${launcher[@]}" \
        -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_INSTALL_PREFIX="$prefix" -DCMAKE_FIND_ROOT_PATH="$prefix" \
        -DBUILD_SHARED_LIBS=OFF -Wno-dev "$@" >"$work/build-$name.log" 2>&1 ||
    { tail -n 30 "$work/build-$name.log"; echo "build-deps: $name: configuration failed" >&2; exit 1; }
  cmake --build "$work/build/$name" -j "$jobs" >>"$work/build-$name.log" 2>&1 &&
    cmake --install "$work/build/$name" >>"$work/build-$name.log" 2>&1 ||
    { tail -n 30 "$work/build-$name.log"; echo "build-deps: $name: build failed" >&2; exit 1; }
  echo "build-deps: $name in $((SECONDS - t)) s"
}

# FreeType: no optional dependency (its own copy of zlib's inflate reads compressed fonts).
build freetype "$(fetch freetype)" -DFT_DISABLE_ZLIB=ON -DFT_DISABLE_BZIP2=ON -DFT_DISABLE_PNG=ON \
      -DFT_DISABLE_HARFBUZZ=ON -DFT_DISABLE_BROTLI=ON
# zint: the library alone, as a DLL (its build always makes one), without PNG and Qt.
build zint "$(fetch zint)" -DZINT_USE_PNG=OFF -DZINT_USE_QT=OFF -DZINT_STATIC=OFF -DZINT_FRONTEND=OFF
# libjpeg-turbo without its SIMD code (which needs nasm), the libjpeg interface only.
build libjpeg-turbo "$(fetch libjpeg-turbo)" -DWITH_SIMD=OFF -DENABLE_SHARED=OFF -DWITH_TURBOJPEG=OFF \
      -DWITH_JAVA=OFF
# GoogleTest and GoogleMock.
build googletest "$(fetch googletest)" -DBUILD_GMOCK=ON -Dgtest_force_shared_crt=ON
# cpp-httplib: the one header of its source (Debian's binary package splits it in two).
mkdir -p "$prefix/include"
cp "$(fetch cpp-httplib)/httplib.h" "$prefix/include/httplib.h"

echo "$want" > "$stamp"
echo "build-deps: $prefix done in $((SECONDS - start)) s"
