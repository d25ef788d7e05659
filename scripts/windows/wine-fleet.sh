# Sourced by tool-check.sh and setup-check.sh, inside the tool host of the private test network
# on an Xvfb display: a small fleet of simulated devices (corvane-devsim.exe under wine in the
# device host), corvane-tool.exe under wine in the tool host, a search, and its checks.
# The caller calls fleet_enter first and fleet_cleanup on exit.
#
# Wine creates sockets in its wineserver, so each side gets a wine prefix (and thereby a
# wineserver) of its own, started inside its own namespace.

wine=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver
# Wine reads the Unix arguments and file names in the locale's character set; winemenubuilder
# would copy wine's menus and file types into this machine's own.
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d" LC_ALL=C.UTF-8

fleet=(
  "198.51.100.21 1102" "198.51.100.22 1200" "198.51.100.31 307" "198.51.100.32 307"
  "198.51.100.41 2000"
)
# fleet_enter NAME FOLDER SCRIPT [BUILD_DIR]: runs SCRIPT again inside the tool host of the
# test network, on an Xvfb display, and returns there with `build` (default build-windows),
# `out` (BUILD/FOLDER, the check's work folder), `check_name` (NAME, its messages' prefix) and
# `status` (0, set to 1 by a failed check) set.
src=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
fleet_enter() {
  check_name=$1
  build=$(cd "${4:-$src/build-windows}" && pwd)
  out=$build/$2
  status=0
  if [ "${CORVANE_TESTNET:-}" != 1 ]; then
    exec "$src/scripts/testnet" run "$3" "$build"
  fi
  if [ -z "${CORVANE_WINE_XVFB:-}" ]; then
    CORVANE_WINE_XVFB=1 exec xvfb-run -a -s "-screen 0 1600x1000x24" "$3" "$build"
  fi
}

devsim_pid=""
tool_pid=""
tool_prefix=""

fail() {
  echo "$check_name: $*" >&2
  for f in devsim.out tool.out; do [ -s "$out/$f" ] && sed "s/^/  $f: /" "$out/$f" >&2; done
  exit 1
}

# Starts corvane-devsim.exe from FOLDER in the device host and waits until it listens.
fleet_start() {
  local folder=$1 d ip type args=()
  for d in "${fleet[@]}"; do
    read -r ip type <<<"$d"
    args+=(--device "ip=$ip,type=$type,gateway=198.51.100.1")
  done
  rm -f "$out/ready" "$out/devsim.jsonl"
  ip netns exec "$CORVANE_DEVICE_NETNS" env WINEPREFIX="$out/wine-devices" \
    "$wine" "$folder/corvane-devsim.exe" "${args[@]}" --log "$out/devsim.jsonl" \
    --ready-file "$out/ready" >"$out/devsim.out" 2>&1 &
  devsim_pid=$!
  for _ in $(seq 600); do
    [ -f "$out/ready" ] && return 0
    kill -0 "$devsim_pid" 2>/dev/null || fail "corvane-devsim.exe ended"
    sleep 0.1
  done
  fail "corvane-devsim.exe did not come up within 60 s"
}

# Rows of the device table that hold text in PNG (a capture of the 1450x846 window): the table
# starts under its 25-pixel header, each row is 35 pixels high, and text is darker than half
# grey where the table's backgrounds and grid are lighter. Rows count from the top while they
# hold text.
table_rows() {
  local png=$1 row=0 mean
  while [ $row -lt 20 ]; do
    mean=$(convert "$png" -crop "1330x25+50+$((25 + 35 * row + 5))" +repage -colorspace Gray \
      -threshold 50% -format '%[fx:mean]' info:)
    [ "$mean" = 1 ] && break
    row=$((row + 1))
  done
  echo $row
}

# Starts EXE (a corvane-tool.exe) under the wine prefix PREFIX, presses the search button and
# checks that the probe reached the devices, every device answered the tool host, the table
# went from empty to one row per device, and the tool's service answers ProtocolCode 1000 on
# port 80. Saves the window as $out/tool.png. Sets status=1 on a failed check.
tool_search_check() {
  local exe=$1 wid probed answered rows reply
  tool_prefix=$2
  WINEPREFIX=$tool_prefix "$wine" "$exe" >"$out/tool.out" 2>&1 &
  tool_pid=$!
  wid=$(timeout 90 xdotool search --sync --onlyvisible --name "Corvane Tool" | head -n 1) || true
  [ -n "$wid" ] || fail "the window did not appear within 90 s"
  sleep 2
  import -window "$wid" "$out/tool-before.png"
  rows=$(table_rows "$out/tool-before.png")
  [ "$rows" = 0 ] || { echo "$check_name: the table holds $rows rows before the search" >&2; status=1; }
  # The search button sits at (1390, 770) in the 1450x846 window, 40x30 large.
  xdotool mousemove --window "$wid" 1410 785 click 1
  for _ in $(seq 100); do
    answered=$(grep -c '"kind":"udp-out"' "$out/devsim.jsonl" || true)
    [ "$answered" -ge "${#fleet[@]}" ] && break
    sleep 0.1
  done
  # A sweep lasts a little over a second; give the table time to fill and repaint.
  sleep 4
  import -window "$wid" "$out/tool.png"

  probed=$(grep '"kind":"udp-in"' "$out/devsim.jsonl" | grep -c '"peer":"198\.51\.100\.1:' || true)
  answered=$(grep '"kind":"udp-out"' "$out/devsim.jsonl" | grep -c '"peer":"198\.51\.100\.1:' || true)
  echo "$check_name: probes from the tool host: $probed; device answers to it: $answered of ${#fleet[@]}"
  [ "$probed" -ge 1 ] || { echo "$check_name: no probe reached the devices" >&2; status=1; }
  [ "$answered" -ge "${#fleet[@]}" ] || { echo "$check_name: not every device answered" >&2; status=1; }
  rows=$(table_rows "$out/tool.png")
  echo "$check_name: table rows after the search: $rows (empty before it)"
  [ "$rows" = "${#fleet[@]}" ] || { echo "$check_name: the table does not show the fleet" >&2; status=1; }

  reply=$(curl -s -m 10 -X POST --data '{"ProtocolCode":1000}' http://198.51.100.1:80/ || true)
  echo "$check_name: the tool's service answered 1000 with: $(echo "$reply" | tr -d '\r\n ')"
  case "$(echo "$reply" | tr -d '\r\n\t ')" in
    *'"ProtocolCode":"OKK"'*) ;;
    *) echo "$check_name: no acknowledgement from port 80" >&2; status=1 ;;
  esac
  echo "$check_name: screenshot $out/tool.png"
}

# Ends the tool and its wineserver (the prefix stays).
tool_stop() {
  [ -n "$tool_pid" ] && kill "$tool_pid" 2>/dev/null || true
  [ -n "$tool_prefix" ] && WINEPREFIX=$tool_prefix "$wineserver" -k 2>/dev/null || true
  [ -n "$tool_pid" ] && wait "$tool_pid" 2>/dev/null || true
  tool_pid=""
}

fleet_cleanup() {
  tool_stop
  [ -n "$devsim_pid" ] && kill "$devsim_pid" 2>/dev/null || true
  ip netns exec "$CORVANE_DEVICE_NETNS" env WINEPREFIX="$out/wine-devices" "$wineserver" -k \
    2>/dev/null || true
  wait 2>/dev/null || true
  # Each prefix is some 700 MB.
  rm -rf "$out/wine-devices"
}
