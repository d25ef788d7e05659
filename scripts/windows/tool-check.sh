#!/usr/bin/env bash
# The packed Windows tool as a person would try it, inside the private test network: unpacks
# BUILD/corvane-tool-*-win64.zip, runs the packed corvane-devsim.exe with a small fleet in the
# device host and corvane-tool.exe in the tool host, both under wine64 (the tool through the
# windows platform on Xvfb), presses the search button, and checks that
#  - the tool's probe reached the devices and every one of them answered the tool host,
#  - the tool's own service answers ProtocolCode 1000 on port 80 with its acknowledgement,
#  - the window shows the found devices (BUILD/windows-check/tool.png; look at it);
# then the packed corvane-cli.exe in the same host: its scan lists the fleet in table order,
# it reads a transmitter's audio input, and it upgrades that transmitter from an image whose
# path is not ASCII, which the device receives whole.
#   scripts/windows/tool-check.sh [BUILD_DIR]        (default build-windows)
#
# Wine creates sockets in its wineserver, so each side gets a wine prefix (and thereby a
# wineserver) of its own, started inside its own namespace.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
src=$(cd "$here/../.." && pwd)
build=$(cd "${1:-$src/build-windows}" && pwd)

if [ "${CORVANE_TESTNET:-}" != 1 ]; then
  exec "$src/scripts/testnet" run "$0" "$build"
fi

# --- inside the tool host of the private network ---
if [ -z "${TOOL_CHECK_IN_XVFB:-}" ]; then
  TOOL_CHECK_IN_XVFB=1 exec xvfb-run -a -s "-screen 0 1600x1000x24" "$0" "$build"
fi
wine=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver
zip=$(ls "$build"/corvane-tool-*-win64.zip | head -n 1)
out=$build/windows-check
rm -rf "$out"
mkdir -p "$out"
cd "$out"
unzip -q "$zip"
app=$(cd "$out"/corvane-tool-*-win64 && pwd)
# Wine reads the Unix arguments and file names in the locale's character set.
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" LC_ALL=C.UTF-8

fleet=(
  "198.51.100.21 1102" "198.51.100.22 1200" "198.51.100.31 307" "198.51.100.32 307"
  "198.51.100.41 2000"
)
args=()
for d in "${fleet[@]}"; do
  read -r ip type <<<"$d"
  args+=(--device "ip=$ip,type=$type,gateway=198.51.100.1")
done

devsim_pid=""
tool_pid=""
cleanup() {
  [ -n "$tool_pid" ] && kill "$tool_pid" 2>/dev/null || true
  [ -n "$devsim_pid" ] && kill "$devsim_pid" 2>/dev/null || true
  WINEPREFIX=$out/wine-tool "$wineserver" -k 2>/dev/null || true
  ip netns exec "$CORVANE_DEVICE_NETNS" env WINEPREFIX="$out/wine-devices" "$wineserver" -k \
    2>/dev/null || true
  wait 2>/dev/null || true
  # Each prefix is some 700 MB.
  rm -rf "$out/wine-tool" "$out/wine-devices"
}
trap cleanup EXIT INT TERM
fail() {
  echo "tool-check: $*" >&2
  for f in devsim.out tool.out; do [ -s "$out/$f" ] && sed "s/^/  $f: /" "$out/$f" >&2; done
  exit 1
}

ip netns exec "$CORVANE_DEVICE_NETNS" env WINEPREFIX="$out/wine-devices" \
  "$wine" "$app/corvane-devsim.exe" "${args[@]}" --log "$out/devsim.jsonl" \
  --ready-file "$out/ready" >"$out/devsim.out" 2>&1 &
devsim_pid=$!
for _ in $(seq 600); do
  [ -f "$out/ready" ] && break
  kill -0 "$devsim_pid" 2>/dev/null || fail "corvane-devsim.exe ended"
  sleep 0.1
done
[ -f "$out/ready" ] || fail "corvane-devsim.exe did not come up within 60 s"

WINEPREFIX=$out/wine-tool "$wine" "$app/corvane-tool.exe" >"$out/tool.out" 2>&1 &
tool_pid=$!
wid=$(timeout 90 xdotool search --sync --onlyvisible --name "Corvane Tool" | head -n 1) || true
[ -n "$wid" ] || fail "the window did not appear within 90 s"
sleep 2
# The search button sits at (1390, 770) in the 1450x846 window, 40x30 large.
xdotool mousemove --window "$wid" 1410 785 click 1
answered=0
for _ in $(seq 100); do
  answered=$(grep -c '"kind":"udp-out"' "$out/devsim.jsonl" || true)
  [ "$answered" -ge "${#fleet[@]}" ] && break
  sleep 0.1
done
# A sweep lasts a little over a second; give the table time to fill and repaint.
sleep 4
import -window "$wid" "$out/tool.png"

status=0
probed=$(grep '"kind":"udp-in"' "$out/devsim.jsonl" | grep -c '"peer":"198\.51\.100\.1:' || true)
answered=$(grep '"kind":"udp-out"' "$out/devsim.jsonl" | grep -c '"peer":"198\.51\.100\.1:' || true)
echo "tool-check: probes from the tool host: $probed; device answers to it: $answered of ${#fleet[@]}"
[ "$probed" -ge 1 ] || { echo "tool-check: no probe reached the devices" >&2; status=1; }
[ "$answered" -ge "${#fleet[@]}" ] || { echo "tool-check: not every device answered" >&2; status=1; }

reply=$(curl -s -m 10 -X POST --data '{"ProtocolCode":1000}' http://198.51.100.1:80/ || true)
echo "tool-check: the tool's service answered 1000 with: $(echo "$reply" | tr -d '\r\n ')"
case "$(echo "$reply" | tr -d '\r\n\t ')" in
  *'"ProtocolCode":"OKK"'*) ;;
  *) echo "tool-check: no acknowledgement from port 80" >&2; status=1 ;;
esac
echo "tool-check: screenshot $out/tool.png"

cli() { WINEPREFIX=$out/wine-tool "$wine" "$app/corvane-cli.exe" "$@"; }
# Transmitters (1200 among them), receivers, KVM receivers; lines end in LF as on Linux.
cli scan --quiet >"$out/cli-scan.txt" 2>"$out/cli.err" || status=1
printf '%s\n' 198.51.100.21 198.51.100.22 198.51.100.31 198.51.100.32 198.51.100.41 >"$out/want.txt"
echo "tool-check: corvane-cli scan --quiet: $(tr '\n' ' ' <"$out/cli-scan.txt")"
cmp -s "$out/cli-scan.txt" "$out/want.txt" ||
  { echo "tool-check: the scan's bytes differ from: $(od -An -c "$out/want.txt")" >&2; status=1; }
audio=$(cli audio-in 198.51.100.21 2>>"$out/cli.err") || status=1
echo "tool-check: corvane-cli audio-in: $audio"
case "$audio" in
  "198.51.100.21: input="*) ;;
  *) echo "tool-check: corvane-cli read no audio input" >&2; status=1 ;;
esac
mkdir -p "$out/固件"
image="$out/固件/update_app_tx ü.bin"
head -c 300000 /dev/urandom >"$image"
cli upgrade --image "$image" 198.51.100.21 >"$out/cli.out" 2>>"$out/cli.err" || status=1
sha=$(sha256sum "$image" | cut -d' ' -f1)
if grep '"kind":"fw-image"' "$out/devsim.jsonl" | grep '"device":"198\.51\.100\.21"' |
  grep -q "\"sha256\":\"$sha\""; then
  echo "tool-check: corvane-cli upgraded 198.51.100.21 from $image: the device got every byte"
else
  echo "tool-check: the upgrade from $image did not reach the device whole" >&2
  sed 's/^/  cli: /' "$out/cli.out" "$out/cli.err" >&2
  status=1
fi
[ "$status" = 0 ] || fail "failed"
