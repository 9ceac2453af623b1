#!/usr/bin/env bash
# tools/windows/check-dlls.sh FOLDER
# Checks that every program and DLL under FOLDER (plugins in its subfolders included) finds each
# DLL it imports: beside the programs, at the top of FOLDER, or among the DLLs Windows itself
# provides (taken as those Wine provides). Prints each import that nothing provides, with the
# file that imports it (the API sets, api-ms-win-*.dll and ext-ms-*.dll, are the loader's own
# names and always resolve), and exits with 1 if there is one: a program that would not start on a
# machine without the build tree.
set -euo pipefail
folder="$(cd "${1:?usage: $0 FOLDER}" && pwd)"
objdump="${OBJDUMP:-x86_64-w64-mingw32-objdump}"
system="${WINE_DLL_DIR:-/usr/lib/x86_64-linux-gnu/wine/x86_64-windows}"
[ -d "$system" ] || { echo "check-dlls: no Wine DLL folder $system" >&2; exit 2; }

declare -A provided
for dll in "$system"/*.dll "$folder"/*.dll; do
  [ -e "$dll" ] || continue
  name="$(basename "$dll")"
  provided["${name,,}"]=1
done

missing=0
checked=0
while IFS= read -r -d '' file; do
  checked=$((checked + 1))
  while read -r import; do
    case "${import,,}" in api-ms-win-* | ext-ms-*) continue ;; esac
    if [ -z "${provided[${import,,}]:-}" ]; then
      echo "check-dlls: ${file#"$folder"/} imports $import, which is neither beside it nor a system DLL" >&2
      missing=1
    fi
  done < <("$objdump" -p "$file" | sed -n 's/^[[:space:]]*DLL Name: //p')
done < <(find "$folder" \( -iname '*.exe' -o -iname '*.dll' \) -type f -print0)
[ "$checked" -gt 0 ] || { echo "check-dlls: no program or DLL under $folder" >&2; exit 1; }
[ "$missing" -eq 0 ] || exit 1
echo "check-dlls: the $checked programs and DLLs under $folder find every DLL they import"
