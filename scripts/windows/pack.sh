#!/usr/bin/env bash
# Packs a Windows build into BUILD/corvane-tool-<version>-win64.zip: the installed executables,
# the DLLs they load from the Windows Qt and the MinGW runtime (found by following their import
# tables, not from a fixed list), platforms/qwindows.dll and styles/qwindowsvistastyle.dll
# (the native look the forms were drawn with) with what those load. Every other import must be
# a DLL that Windows itself has; the script fails on an import it cannot place, and on a
# program without its icon or version resource.
#   scripts/windows/pack.sh BUILD_DIR
set -euo pipefail
build=$(cd "${1:?usage: pack.sh BUILD_DIR}" && pwd)
cross=x86_64-w64-mingw32
cache_value() { sed -n "s/^$1:[A-Z]*=//p" "$build/CMakeCache.txt"; }
version=$(cache_value CMAKE_PROJECT_VERSION)
qt=$(cache_value CORVANE_WIN_QT)
IFS=';' read -r -a dll_dirs <<<"$(cache_value CORVANE_WIN_DLL_DIRS)"
[ -n "$version" ] && [ -n "$qt" ] && [ ${#dll_dirs[@]} -gt 0 ] ||
  { echo "pack: $build is not a configured Windows build" >&2; exit 1; }
# The DLLs a Windows system provides, as wine ships them.
windows_dlls=/usr/lib/x86_64-linux-gnu/wine/x86_64-windows

name=corvane-tool-$version-win64
stage=$build/stage
out=$build/$name
zip=$build/$name.zip
rm -rf "$stage" "$out" "$zip"
cmake --install "$build" --prefix "$stage" >/dev/null
mkdir -p "$out/platforms" "$out/styles"
cp "$stage"/bin/*.exe "$out/"
cp "$qt/plugins/platforms/qwindows.dll" "$out/platforms/"
cp "$qt/plugins/styles/qwindowsvistastyle.dll" "$out/styles/"

# Finds a DLL (names compare without case, as on Windows) among the build's DLL folders.
find_dll() {
  local d f
  for d in "${dll_dirs[@]}"; do
    f=$(find "$d" -maxdepth 1 -iname "$1" -print -quit)
    [ -n "$f" ] && { echo "$f"; return 0; }
  done
  return 1
}

declare -A seen=()
system=()
queue=("$out"/*.exe "$out"/platforms/*.dll "$out"/styles/*.dll)
while [ ${#queue[@]} -gt 0 ]; do
  file=${queue[0]}
  queue=("${queue[@]:1}")
  while read -r dll; do
    key=${dll,,}
    [ -n "${seen[$key]:-}" ] && continue
    seen[$key]=1
    if path=$(find_dll "$dll"); then
      cp "$path" "$out/"
      queue+=("$out/$(basename "$path")")
    elif [ -n "$(find "$windows_dlls" -maxdepth 1 -iname "$dll" -print -quit)" ]; then
      system+=("$dll")
    else
      echo "pack: $(basename "$file") imports $dll, found neither in the build's DLL folders nor among Windows' own" >&2
      exit 1
    fi
  done < <("$cross-objdump" -p "$file" | sed -n 's/^[[:space:]]*DLL Name: //p')
done

# Each program carries the icon group IDI_ICON1 (for the tool, its window's icon too) and the
# version resource that the file properties show.
for exe in "$out"/*.exe; do
  program=$(basename "$exe")
  resources=$("$cross-windres" -J coff -O rc -i "$exe" 2>/dev/null || true)
  grep -q '^"IDI_ICON1" 14 ' <<<"$resources" || { echo "pack: $program has no icon group IDI_ICON1" >&2; exit 1; }
  for value in '"ProductName", "Corvane Tool"' "\"ProductVersion\", \"$version\"" \
    "\"FileVersion\", \"$version\"" "\"OriginalFilename\", \"$program\""; do
    grep -qF "VALUE $value" <<<"$resources" ||
      { echo "pack: the version resource of $program lacks $value" >&2; exit 1; }
  done
done

find "$out" -name '*.exe' -o -name '*.dll' | xargs "$cross-strip" --strip-unneeded
(cd "$build" && zip -q -r -9 "$zip" "$name")
echo "pack: $zip ($(du -k "$zip" | cut -f1) KiB)"
(cd "$out" && find . -type f | sed 's|^\./|  |' | sort)
echo "pack: Windows' own DLLs imported: $(printf '%s\n' "${system[@]}" | sort -fu | tr '\n' ' ')"
