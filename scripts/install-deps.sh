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
  libavdevice-dev libpulse-dev pulseaudio pulseaudio-utils
  fonts-dejavu-core fonts-urw-base35
  libx11-dev libxcursor-dev libxcb1-dev libxcb-xinput-dev libxcb-randr0-dev libxcb-xfixes0-dev
  adwaita-icon-theme xvfb xdotool
  qt6-base-dev qt6-base-dev-tools qt6-multimedia-dev qt6-qpa-plugins libqt6svg6
  trayer imagemagick
  ca-certificates
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
# npm fetches the segmentation models (below). A machine with Node.js from elsewhere already has
# it, and Debian's npm package conflicts with such installs.
if ! command -v npm >/dev/null; then
  missing+=(npm)
fi

sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi
export DEBIAN_FRONTEND=noninteractive
if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps: all packages present"
else
  "${sudo_cmd[@]}" apt-get update -q
  "${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

# Downloaded data the build and the tests use; never fetched at build or run time. Kept out of
# git (see .gitignore) beside the sources, so that every build tree of this clone finds it.
repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
models_dir="$repo/third_party/models"
testdata_dir="$repo/third_party/testdata"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# True when the file exists and has this sha256.
has_sum() {
  [ -f "$1" ] && [ "$(sha256sum "$1" | cut -d' ' -f1)" = "$2" ]
}

# The person-segmentation models (Apache-2.0), from their npm package.
segmentation_package="@mediapipe/selfie_segmentation@0.1.1675465747"
declare -A model_sums=(
  [selfie_segmentation.tflite]=8d13b7fae74af625c641226813616a2117bd6bca19eb3b75574621fc08557f27
  [selfie_segmentation_landscape.tflite]=4aafe6223bb8dac6fac8ca8ed56852870a33051ef3f6238822d282a109962894
)
models_ok=1
for name in "${!model_sums[@]}"; do
  has_sum "$models_dir/$name" "${model_sums[$name]}" || models_ok=0
done
if [ $models_ok -eq 1 ]; then
  echo "install-deps: segmentation models present"
else
  echo "install-deps: fetching $segmentation_package"
  (cd "$work" && npm pack --silent "$segmentation_package" >/dev/null)
  mkdir -p "$work/package" "$models_dir"
  tar -xzf "$work"/*.tgz -C "$work"
  for name in "${!model_sums[@]}"; do
    if ! has_sum "$work/package/$name" "${model_sums[$name]}"; then
      echo "install-deps: $segmentation_package: $name is missing or its sha256 is not" \
        "${model_sums[$name]}" >&2
      exit 1
    fi
    install -m 644 "$work/package/$name" "$models_dir/$name"
  done
fi
cp "$repo/docs/segmentation-models-NOTICE" "$models_dir/NOTICE"

# The test photograph (public domain) from Debian's scikit-image package, without installing it.
astronaut_sum=88431cd9653ccd539741b555fb0a46b61558b301d4110412b5bc28b5e3ea6cb5
if has_sum "$testdata_dir/astronaut.png" "$astronaut_sum"; then
  echo "install-deps: test photograph present"
else
  echo "install-deps: fetching the test photograph from python3-skimage"
  if ! (cd "$work" && apt-get download -q python3-skimage >/dev/null 2>&1); then
    "${sudo_cmd[@]}" apt-get update -q
    (cd "$work" && apt-get download -q python3-skimage)
  fi
  dpkg-deb --fsys-tarfile "$work"/python3-skimage_*.deb |
    tar -x -C "$work" ./usr/lib/python3/dist-packages/skimage/data/astronaut.png
  photo="$work/usr/lib/python3/dist-packages/skimage/data/astronaut.png"
  if ! has_sum "$photo" "$astronaut_sum"; then
    echo "install-deps: python3-skimage: astronaut.png is missing or its sha256 is not" \
      "$astronaut_sum" >&2
    exit 1
  fi
  mkdir -p "$testdata_dir"
  install -m 644 "$photo" "$testdata_dir/astronaut.png"
fi
