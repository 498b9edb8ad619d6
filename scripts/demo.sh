#!/usr/bin/env bash
# Installs the dependencies, builds, and runs `quillvane demo`: the bundled synthetic recording
# is written to out/demo/recording and exported to out/demo/demo.mp4 with its report and captions.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j2
./build/Quillvane/quillvane demo -o out/demo
