#!/usr/bin/env bash
# Installs the Debian 12 packages the build, tests, demo, benchmarks and fuzzing need.
# Quick when everything is present: apt-get runs only for what is missing.
set -euo pipefail

packages=(
  build-essential cmake make pkg-config git
  qtbase5-dev qttools5-dev qttools5-dev-tools libqt5svg5-dev
  libboost-dev
  libbenchmark-dev rapidjson-dev nlohmann-json3-dev libcurl4-openssl-dev
  clang-14 libfuzzer-14-dev libclang-rt-14-dev clang-format
  iproute2 iptables procps psmisc
  curl wrk python3
  xvfb xauth xdotool x11-utils imagemagick librsvg2-bin
  fonts-wqy-microhei
  chromium
  dpkg-dev file desktop-file-utils
)

bash "$(dirname "$0")/apt-missing" deps "${packages[@]}"
