#!/usr/bin/env bash
# The packed Windows tool as a person would try it, inside the private test network: unpacks
# BUILD/corvane-tool-*-win64.zip, runs the packed corvane-devsim.exe with a small fleet in the
# device host and corvane-tool.exe in the tool host, both under wine64 (the tool through the
# windows platform on Xvfb), presses the search button, and checks that
#  - the tool's probe reached the devices and every one of them answered the tool host, and
#    the table went from empty to one row per device,
#  - the tool's own service answers ProtocolCode 1000 on port 80 with its acknowledgement,
#  - the window shows the found devices (BUILD/windows-check/tool.png; look at it);
# then the packed corvane-cli.exe in the same host: its scan lists the fleet in table order,
# and so does its unicast scan of a range,
# it reads a transmitter's audio input, and it upgrades that transmitter from an image whose
# path is not ASCII, which the device receives whole.
#   scripts/windows/tool-check.sh [BUILD_DIR]        (default build-windows)
#
# Each side has a wine prefix of its own (wine-fleet.sh).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=wine-fleet.sh
source "$here/wine-fleet.sh"
fleet_enter tool-check windows-check "$0" "$@"
# --- inside the tool host of the private network, on Xvfb ---
zip=$(ls "$build"/corvane-tool-*-win64.zip | head -n 1)
rm -rf "$out"
mkdir -p "$out"
cd "$out"
unzip -q "$zip"
app=$(cd "$out"/corvane-tool-*-win64 && pwd)

cleanup() {
  fleet_cleanup
  rm -rf "$out/wine-tool"
}
trap cleanup EXIT INT TERM

fleet_start "$app"
tool_search_check "$app/corvane-tool.exe" "$out/wine-tool"

cli() { WINEPREFIX=$out/wine-tool "$wine" "$app/corvane-cli.exe" "$@"; }
# Transmitters (1200 among them), receivers, KVM receivers; lines end in LF as on Linux.
cli scan --quiet >"$out/cli-scan.txt" 2>"$out/cli.err" || status=1
printf '%s\n' 198.51.100.21 198.51.100.22 198.51.100.31 198.51.100.32 198.51.100.41 >"$out/want.txt"
echo "tool-check: corvane-cli scan --quiet: $(tr '\n' ' ' <"$out/cli-scan.txt")"
cmp -s "$out/cli-scan.txt" "$out/want.txt" ||
  { echo "tool-check: the scan's bytes differ from: $(od -An -c "$out/want.txt")" >&2; status=1; }
# The unicast sweep over a range (what reaches racks behind a router) finds the same fleet.
cli scan --quiet --range 198.51.100.0/26 >"$out/cli-range.txt" 2>>"$out/cli.err" || status=1
echo "tool-check: corvane-cli scan --quiet --range 198.51.100.0/26: $(tr '\n' ' ' <"$out/cli-range.txt")"
cmp -s "$out/cli-range.txt" "$out/want.txt" ||
  { echo "tool-check: the range scan's bytes differ from: $(od -An -c "$out/want.txt")" >&2; status=1; }
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
