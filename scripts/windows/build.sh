#!/usr/bin/env bash
# make windows: installs what the cross build needs, builds Qt for Windows once (cached, see
# qt.sh), cross-builds the project with mingw-w64, packs the zip (pack.sh) and makes the setup
# program from the same files (setup.sh).
#   scripts/windows/build.sh [BUILD_DIR]        (default build-windows)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
src=$(cd "$here/../.." && pwd)
build=${1:-$src/build-windows}
jobs=${JOBS:-$(nproc)}

bash "$here/deps.sh"
qt=$(bash "$here/qt.sh" | tail -n 1)

start=$(date +%s)
mkdir -p "$build"
cmake -S "$src" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$src/cmake/mingw-w64-x86_64.cmake" \
  -DCORVANE_WIN_QT="$qt" -DCMAKE_BUILD_TYPE=Release -DCORVANE_BENCH=OFF >"$build/configure.log" 2>&1 ||
  { cat "$build/configure.log" >&2; exit 1; }
grep '^-- Linux only' "$build/configure.log" || true
cmake --build "$build" -j "$jobs"
built=$(date +%s)
bash "$here/pack.sh" "$build"
bash "$here/setup.sh" "$build"
echo "windows: project configured and built in $((built - start)) s with Qt from $qt"
