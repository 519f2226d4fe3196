#!/usr/bin/env bash
# The main job: builds Pellix and grabs 25 frames with pellix-grab, printing the frame rate and
# saving them as PNG files in build/frames. Without arguments the frames come from a simulated
# camera in the same process; `run.sh CAMERA [pellix-grab options]` reads a real one.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake -S . -B build/normal -G Ninja -DCMAKE_CXX_COMPILER=g++ -DCMAKE_C_COMPILER=gcc >/dev/null
cmake --build build/normal -j "$(nproc)" --target pellix-grab
exec build/normal/tools/pellix-grab -n 25 -o build/frames "$@"
