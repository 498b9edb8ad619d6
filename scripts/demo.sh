#!/usr/bin/env bash
# Installs the dependencies, builds, and renders frames of the bundled demo scene into out/.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j2
mkdir -p out
for ms in 500 2500; do
  ./build/Quillvane/quillvane frame --demo --at "$ms" -o "out/demo-$ms.png"
done
