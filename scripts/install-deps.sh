#!/usr/bin/env bash
# Installs every Debian package Quillvane needs to build, test and run. Safe to run again.
set -euo pipefail

packages=(
  build-essential g++ cmake pkg-config git clang-format
  clang libclang-rt-14-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  nlohmann-json3-dev
  libpng-dev libjpeg-dev zlib1g-dev
  libcairo2-dev libpango1.0-dev
  libopencv-core-dev libopencv-imgproc-dev
  libavformat-dev libavcodec-dev libavutil-dev libswscale-dev libswresample-dev ffmpeg time
  fonts-dejavu-core fonts-urw-base35
  libx11-dev libxcursor-dev libxcb1-dev libxcb-xinput-dev libxcb-randr0-dev libxcb-xfixes0-dev
  adwaita-icon-theme xvfb xdotool
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps: all packages present"
  exit 0
fi

sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -q
"${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
