#!/usr/bin/env bash
# The Debian package and `make install` as a machine gets them: cpack builds the package from
# this build into a scratch folder, dpkg -x unpacks it into a scratch root, the unpacked
# programs run, and the desktop entry and icons are checked; `cmake --install` with DESTDIR
# must stage the very same files under /usr/local.
#   test_package.sh BUILD_DIR
set -uo pipefail
build=$(cd "${1:?usage: test_package.sh BUILD_DIR}" && pwd)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
export LC_ALL=C
failures=0
check() {
  local what=$1
  shift
  if "$@"; then echo "PASS: $what"; else echo "FAIL: $what"; failures=$((failures + 1)); fi
}
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:[A-Z]*=//p' "$build/CMakeCache.txt")

# Everything an installation holds below its prefix.
expected=$(printf '%s\n' bin/corvane-cli bin/corvane-devsim bin/corvane-tool \
  share/applications/corvane-tool.desktop share/icons/hicolor/scalable/apps/corvane-tool.svg \
  share/icons/hicolor/{16x16,24x24,32x32,48x48,64x64,128x128,256x256}/apps/corvane-tool.png | sort)
files_below() { (cd "$1" && find . -type f -o -type l) | sed 's|^\./||' | sort; }

cpack -G DEB --config "$build/CPackConfig.cmake" -B "$scratch/out" >"$scratch/cpack.log" 2>&1 ||
  { cat "$scratch/cpack.log"; echo "FAIL: cpack"; exit 1; }
deb=$(ls "$scratch"/out/*.deb)
field() { dpkg-deb -f "$deb" "$1"; }
echo "package: $(basename "$deb"), $(stat -c %s "$deb") bytes; Depends: $(field Depends)"

check "package name, version and architecture" \
  test "$(field Package) $(field Version) $(field Architecture)" = \
  "corvane-tool $version $(dpkg --print-architecture)"

root=$scratch/root
dpkg -x "$deb" "$root"
check "the package holds the programs, the desktop entry and the icons under /usr, nothing else" \
  test "$(files_below "$root/usr")" = "$expected"

# The Qt 5 packages that hold the libraries the programs load must all be dependencies.
depends=" $(field Depends | sed -E 's/\([^)]*\)//g; s/[,|]/ /g') "
for lib in $(readelf -d "$root"/usr/bin/* | sed -n 's/.*Shared library: \[\(libQt5[^]]*\)\].*/\1/p' | sort -u); do
  package=$(dpkg -S "*/$lib" | head -n 1 | cut -d: -f1)
  check "$lib's package ${package:-?} is a dependency" \
    test -n "$package" -a "${depends/ $package /}" != "$depends"
done

# Each dependency, one of its alternatives, is installed here at a version it accepts, so
# dpkg -i takes the package on a machine set up like this one.
satisfied() {
  local name op version have
  read -r name op version <<<"$(sed -E 's/^ *([^ (]+) *(\(([<>=]+) *([^)]+)\))? *$/\1 \3 \4/' <<<"$1")"
  have=$(dpkg-query -W -f='${Status} ${Version}' "$name" 2>/dev/null) || return 1
  [[ $have == "install ok installed "* ]] || return 1
  [ -z "$op" ] || dpkg --compare-versions "${have##* }" "$op" "$version"
}
IFS=',' read -r -a groups <<<"$(field Depends)"
for group in "${groups[@]}"; do
  ok=1
  IFS='|' read -r -a alternatives <<<"$group"
  for alternative in "${alternatives[@]}"; do satisfied "$alternative" && ok=0 && break; done
  check "dependency ${group# } is installed" test $ok -eq 0
done

# --version and --help answer without a display: were the window's application object made,
# Qt would abort for want of one.
headless() { env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=xcb "$@" 2>&1; }
check "corvane-tool --version prints the version without a display" \
  test "$(headless "$root/usr/bin/corvane-tool" --version)" = "corvane-tool $version"
help=$(headless "$root/usr/bin/corvane-tool" -platform offscreen --help)
check "corvane-tool --help beside a Qt option prints the options" \
  grep -q -- '-v, --version' <<<"$help"
check "corvane-cli --help" grep -q '^Usage: corvane-cli' <<<"$("$root/usr/bin/corvane-cli" --help)"
check "corvane-devsim --help" grep -q 'Simulates' <<<"$("$root/usr/bin/corvane-devsim" --help)"

entry=$root/usr/share/applications/corvane-tool.desktop
check "desktop-file-validate has nothing to say" test -z "$(desktop-file-validate "$entry" 2>&1)"
check "the entry starts an installed program" \
  test -x "$root/usr/bin/$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$entry")"
icon=$(sed -n 's/^Icon=//p' "$entry")
for size in 16 24 32 48 64 128 256; do
  check "the ${size}x${size} icon is $size x $size" grep -q "PNG image data, $size x $size," \
    <<<"$(file "$root/usr/share/icons/hicolor/${size}x${size}/apps/$icon.png")"
done

DESTDIR=$scratch/stage cmake --install "$build" --prefix /usr/local >/dev/null
check "cmake --install stages the same files under /usr/local" \
  test "$(files_below "$scratch/stage/usr/local")" = "$expected"

echo "$failures failed"
[ $failures -eq 0 ]
