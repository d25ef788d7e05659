#!/usr/bin/env bash
# Installs what the Windows cross build and its tests need on Debian 12: the mingw-w64
# cross compilers (posix threads, which Qt's and the standard library's threads need), wine64
# to run the results, NSIS for the setup program, and a deb-src entry so that `apt-get source`
# reaches Qt's and zlib's source packages; and what the Windows tests use around wine (Xvfb,
# xdotool, a CJK font for the window's texts). Quick when everything is present.
set -euo pipefail

packages=(
  g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
  mingw-w64-x86-64-dev mingw-w64-tools
  wine64 wine64-preloader
  dpkg-dev xz-utils zip unzip
  xvfb xauth xdotool imagemagick curl iproute2 iptables fonts-wqy-microhei
  nsis
)

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
updated=0

# The source entries mirror the machine's own binary entries, so the sources come from the
# same archive and suite as the installed packages.
src_list=/etc/apt/sources.list.d/corvane-deb-src.sources
src_legacy=/etc/apt/sources.list.d/corvane-deb-src.list
if ! apt-get source --print-uris -qq zlib >/dev/null 2>&1; then
  if [ ! -e "$src_list" ] && [ ! -e "$src_legacy" ]; then
    tmp=$(mktemp)
    for f in /etc/apt/sources.list.d/*.sources; do
      [ -e "$f" ] || continue
      case "$f" in "$src_list") continue ;; esac
      # Only the Debian archive's own entries (signed by the Debian keyring).
      grep -q 'debian-archive-keyring' "$f" || continue
      sed -e 's/^Types:.*/Types: deb-src/' "$f" >>"$tmp"
      echo >>"$tmp"
    done
    if [ -s "$tmp" ]; then
      $SUDO install -m 0644 "$tmp" "$src_list"
    elif [ -e /etc/apt/sources.list ]; then
      grep -E '^deb [^#]*debian' /etc/apt/sources.list | sed 's/^deb /deb-src /' >"$tmp" || true
      [ -s "$tmp" ] && $SUDO install -m 0644 "$tmp" "$src_legacy"
    fi
    rm -f "$tmp"
  fi
  echo "windows-deps: added deb-src entries; updating package lists"
  $SUDO apt-get update -qq
  updated=1
fi

APT_LISTS_FRESH=$updated bash "$(dirname "$0")/../apt-missing" windows-deps "${packages[@]}"
