#!/usr/bin/env bash
# Makes BUILD/corvane-tool-<version>-setup.exe with NSIS (makensis, 64-bit target) from the
# folder pack.sh zipped, BUILD/corvane-tool-<version>-win64: the setup installs exactly those
# files and its uninstaller removes exactly those (setup.nsi).
#   scripts/windows/setup.sh BUILD_DIR
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
src=$(cd "$here/../.." && pwd)
build=$(cd "${1:?usage: setup.sh BUILD_DIR}" && pwd)
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:[A-Z]*=//p' "$build/CMakeCache.txt")
folder=$build/corvane-tool-$version-win64
[ -n "$version" ] && [ -f "$folder/corvane-tool.exe" ] ||
  { echo "setup: $folder is missing; run pack.sh first" >&2; exit 1; }
setup=$build/corvane-tool-$version-setup.exe
files=$build/setup-files.nsh

# Windows wants four parts in a file version.
IFS=. read -r -a parts <<<"$version"
while [ ${#parts[@]} -lt 4 ]; do parts+=(0); done
version4=$(IFS=.; echo "${parts[*]:0:4}")

# The install and uninstall lists, folder by folder; the programs (which may be running) apart.
{
  echo "!macro CorvaneInstallFiles"
  (cd "$folder" && find . -type d | sort) | while read -r dir; do
    rel=${dir#.}
    win=${rel//\//\\}
    echo "  SetOutPath \"\$INSTDIR$win\""
    find "$folder$rel" -maxdepth 1 -type f | sort | sed 's/^/  File "/; s/$/"/'
  done
  echo "!macroend"
  echo "!macro CorvaneDeleteFiles"
  (cd "$folder" && find . -type f | sort) | sed 's|^\./||; s|/|\\|g; s/^/  Delete "$INSTDIR\\/; s/$/"/'
  (cd "$folder" && find . -mindepth 1 -type d | sort -r) |
    sed 's|^\./||; s|/|\\|g; s/^/  RMDir "$INSTDIR\\/; s/$/"/'
  echo "!macroend"
  echo "!macro CorvanePrograms ACTION"
  (cd "$folder" && find . -maxdepth 1 -name '*.exe' | sort) |
    sed 's|^\./||; s/^/  !insertmacro ${ACTION} "$INSTDIR\\/; s/$/"/'
  echo "!macroend"
} >"$files"

rm -f "$setup"
makensis -V2 -INPUTCHARSET UTF8 -DVERSION="$version" -DVERSION4="$version4" -DFILES="$files" \
  -DICON="$src/resources/app.ico" -DOUTFILE="$setup" "$here/setup.nsi" >"$build/setup.log" 2>&1 ||
  { cat "$build/setup.log" >&2; exit 1; }
echo "setup: $setup ($(du -k "$setup" | cut -f1) KiB)"
