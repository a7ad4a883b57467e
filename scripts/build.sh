#!/usr/bin/env bash
# Configures and builds Vizo into build/ (the program is build/vizo).
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build
