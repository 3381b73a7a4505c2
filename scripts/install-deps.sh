#!/usr/bin/env bash
# Installs the Debian 12 packages the build and the tests need; only the missing ones.
# Usage: scripts/install-deps.sh [build|test|fuzz|bench]
set -euo pipefail

mode=${1:-build}

build_pkgs=(
  cmake ninja-build ccache g++ pkg-config make
  qtbase5-dev qtbase5-dev-tools libqt5sql5-sqlite libsqlite3-dev
  libavcodec-dev libavformat-dev libavutil-dev libswscale-dev
  flatbuffers-compiler libflatbuffers-dev
  libhttp-parser-dev libjsoncpp-dev libcurl4-openssl-dev libssl-dev
  libspdlog-dev libfmt-dev
  libx11-dev libxext-dev libxrandr-dev libxdamage-dev libegl-dev libgl-dev libgles-dev
  libegl-mesa0 libgl1-mesa-dri libyuv-dev
  fonts-noto-cjk fonts-noto-color-emoji fonts-dejavu-core xvfb xauth
)
test_pkgs=(
  libgtest-dev libgmock-dev googletest
  curl ffmpeg iproute2 nftables procps util-linux passwd sudo sqlite3
  gstreamer1.0-tools gstreamer1.0-plugins-base gstreamer1.0-plugins-good
  gstreamer1.0-plugins-bad gstreamer1.0-libav
  x11-utils openbox xdotool trayer dbus dbus-x11 python3-dbusmock
  desktop-file-utils python3 openssl dpkg-dev
)

fuzz_pkgs=(clang libclang-rt-14-dev)
# The file-server benchmark compares against nginx (run from a temporary config, never as a service).
bench_pkgs=(nginx)

pkgs=("${build_pkgs[@]}")
if [ "$mode" = test ]; then pkgs+=("${test_pkgs[@]}"); fi
if [ "$mode" = fuzz ]; then pkgs+=("${test_pkgs[@]}" "${fuzz_pkgs[@]}"); fi
if [ "$mode" = bench ]; then pkgs+=("${test_pkgs[@]}" "${bench_pkgs[@]}"); fi

missing=()
for p in "${pkgs[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -q
"${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
