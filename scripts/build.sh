#!/usr/bin/env bash
# Configures and builds Vizo into build/ (the program is build/vizo).
#   scripts/build.sh             everything: program, tests and benchmarks
#   scripts/build.sh vizo        only the named targets (here: the program
#                                and the libraries it loads)
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
if [ $# -gt 0 ]; then
    cmake --build build --target "$@"
else
    cmake --build build
fi
