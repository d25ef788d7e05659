#!/usr/bin/env bash
# make test-windows: runs the Windows build's tests under wine64, then the packed tool inside
# the private test network (tool-check.sh), then the setup program's install and uninstall
# (setup-check.sh).
#  - the headless tests (label "unit") with no display at all;
#  - the window tests (label "gui") through Qt's windows platform on an Xvfb display;
#  - tests marked Linux-only are listed by ctest as disabled, with their reason in the
#    configure output.
#   scripts/windows/test.sh [BUILD_DIR]        (default build-windows)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
src=$(cd "$here/../.." && pwd)
build=$(cd "${1:-$src/build-windows}" && pwd)
jobs=${JOBS:-$(nproc)}
wine=/usr/lib/wine/wine64

# The build's own wine prefix (the tests' environment names the same one), made once.
# winemenubuilder would copy wine's menus and file types into this machine's own.
export WINEPREFIX=$build/wine WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
if [ ! -e "$WINEPREFIX/system.reg" ]; then
  echo "test-windows: making the wine prefix $WINEPREFIX"
  env -u DISPLAY "$wine" wineboot --init >/dev/null 2>&1
  /usr/lib/wine/wineserver -w
fi

start=$(date +%s)
status=0
echo "test-windows: headless tests under wine"
(cd "$build" && env -u DISPLAY ctest --output-on-failure -j "$jobs" -LE gui) || status=1
echo "test-windows: window tests under wine on Xvfb"
(cd "$build" && xvfb-run -a -s "-screen 0 1600x1000x24" ctest --output-on-failure -L gui) || status=1
tests_done=$(date +%s)
echo "test-windows: the packed tool inside the test network"
bash "$here/tool-check.sh" "$build" || status=1
tool_done=$(date +%s)
echo "test-windows: the setup program's install and uninstall under wine, the installed tool in the test network"
bash "$here/setup-check.sh" "$build" || status=1
end=$(date +%s)
echo "test-windows: tests $((tests_done - start)) s, tool check $((tool_done - tests_done)) s," \
  "setup check $((end - tool_done)) s"
exit $status
