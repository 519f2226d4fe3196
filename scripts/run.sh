#!/usr/bin/env bash
# The main job: builds Pellix and runs the loopback demonstration of the link layer.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake -S . -B build/normal -G Ninja -DCMAKE_CXX_COMPILER=g++ -DCMAKE_C_COMPILER=gcc >/dev/null
cmake --build build/normal -j "$(nproc)" --target pellix-netdemo
exec build/normal/tools/pellix-netdemo "$@"
