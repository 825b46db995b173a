#!/usr/bin/env bash
# Builds build/vodarezazuv.so on a Debian machine, installing what the build needs first.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j2
echo "Built $(pwd)/build/vodarezazuv.so"
