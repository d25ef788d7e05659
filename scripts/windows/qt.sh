#!/usr/bin/env bash
# Cross-builds Qt (qtbase) for 64-bit Windows with mingw-w64 from Debian's own source package,
# once: the result lives in a cache folder named after a hash of its inputs (the two source
# package versions, the compiler and the configure options) and is rebuilt only when they
# change. Prints the Qt prefix on its last line.
#
#   scripts/windows/qt.sh            build if missing, print the prefix
#   scripts/windows/qt.sh --prefix   print the prefix it would use, build nothing
#   scripts/windows/qt.sh --check    exit 0 when that prefix is complete
#
# CORVANE_WIN_CACHE (default /var/cache/corvane-win) is the cache folder. The build runs
# under nice so that other work on the machine keeps its share.
set -euo pipefail

cache=${CORVANE_WIN_CACHE:-/var/cache/corvane-win}
jobs=${JOBS:-$(nproc)}
cross=x86_64-w64-mingw32

# Debian's tarball has neither Qt's bundled zlib (hence -system-zlib against a static zlib
# cross-built from Debian's zlib source) nor wintab.h (hence no tablet events). The program
# needs no OpenGL, D-Bus, ICU or SQL.
qt_options=(
  -opensource -confirm-license -release
  -xplatform win32-g++ -device-option CROSS_COMPILE=${cross}-
  -nomake examples -nomake tests
  -no-opengl -no-dbus -no-icu
  -system-zlib -qt-libpng -qt-libjpeg -qt-freetype -qt-pcre -qt-harfbuzz
  -no-feature-tabletevent -no-feature-sql
)

# The source versions are those of the machine's own Qt and zlib where they are installed (so
# both builds share one Qt), otherwise apt's candidate.
version_of() { # source package, binary package
  local v
  v=$(dpkg-query -W -f='${source:Version}' "$2" 2>/dev/null || true)
  if [ -z "$v" ]; then
    v=$(apt-cache showsrc "$1" 2>/dev/null | sed -n 's/^Version: //p' | sort -V | tail -1)
  fi
  echo "$v"
}
qt_version=$(version_of qtbase-opensource-src libqt5core5a)
zlib_version=$(version_of zlib zlib1g)
if [ -z "$qt_version" ] || [ -z "$zlib_version" ]; then
  echo "windows-qt: apt cannot see qtbase-opensource-src or zlib sources; run scripts/windows/deps.sh" >&2
  exit 1
fi
qt_dsc="qtbase-opensource-src $qt_version"
zlib_dsc="zlib $zlib_version"
compiler=$(${cross}-g++-posix --version | head -1)
hash=$(printf '%s\n' "$qt_dsc" "$zlib_dsc" "$compiler" "${qt_options[*]}" | sha256sum | cut -c1-12)
prefix=$cache/qt-5.15.8-$hash
work=$cache/work-$hash

case "${1:-}" in
  --prefix) echo "$prefix"; exit 0 ;;
  --check) [ -e "$prefix/.complete" ]; exit $? ;;
esac

if [ -e "$prefix/.complete" ]; then
  echo "$prefix"
  exit 0
fi

if ! ${cross}-g++ -v 2>&1 | grep -q 'Thread model: posix'; then
  echo "windows-qt: ${cross}-g++ must be the posix-threads compiler (update-alternatives --config ${cross}-g++)" >&2
  exit 1
fi

mkdir -p "$cache"
exec 9>"$cache/.lock-$hash"
if ! flock -n 9; then
  echo "windows-qt: another build of $prefix is running; waiting for it" >&2
  flock 9
  if [ -e "$prefix/.complete" ]; then echo "$prefix"; exit 0; fi
fi

start=$(date +%s)
rm -rf "$work" "$prefix"
mkdir -p "$work/src"
cd "$work/src"
echo "windows-qt: fetching $qt_dsc and $zlib_dsc" >&2
apt-get source -qq "qtbase-opensource-src=$qt_version" "zlib=$zlib_version" >"$work/fetch.log" 2>&1 ||
  { cat "$work/fetch.log" >&2; exit 1; }
qt_src=$(find "$work/src" -maxdepth 1 -type d -name 'qtbase-opensource-src-*' | head -1)
zlib_src=$(find "$work/src" -maxdepth 1 -type d -name 'zlib-*' | head -1)

echo "windows-qt: building zlib (static) from $zlib_src" >&2
zlib_prefix=$prefix/zlib
(
  cd "$zlib_src"
  CHOST=$cross ./configure --static --prefix="$zlib_prefix" >/dev/null
  nice -n 19 make -j"$jobs" libz.a >/dev/null
  make install >/dev/null
)

echo "windows-qt: configuring Qt in $work/build" >&2
mkdir -p "$work/build"
cd "$work/build"
t0=$(date +%s)
nice -n 19 "$qt_src/configure" -prefix "$prefix" "${qt_options[@]}" \
  -I "$zlib_prefix/include" -L "$zlib_prefix/lib" >"$work/configure.log" 2>&1 ||
  { tail -40 "$work/configure.log" >&2; exit 1; }
t1=$(date +%s)
echo "windows-qt: building Qt (log: $work/build.log)" >&2
nice -n 19 make -j"$jobs" >"$work/build.log" 2>&1 || { tail -40 "$work/build.log" >&2; exit 1; }
t2=$(date +%s)
nice -n 19 make install >"$work/install.log" 2>&1 || { tail -40 "$work/install.log" >&2; exit 1; }
end=$(date +%s)

{
  echo "qtbase: $qt_dsc"
  echo "zlib: $zlib_dsc"
  echo "compiler: $compiler"
  echo "options: ${qt_options[*]}"
  echo "configure_seconds: $((t1 - t0))"
  echo "build_seconds: $((t2 - t1))"
  echo "total_seconds: $((end - start))"
} >"$prefix/corvane-inputs.txt"
touch "$prefix/.complete"
rm -rf "$work"
echo "windows-qt: done in $((end - start)) s ($(du -sh "$prefix" | cut -f1))" >&2
echo "$prefix"
