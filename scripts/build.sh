#!/usr/bin/env bash
# Configures and builds everything (Release) into build/.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DLANDUSE_BUILD_UI=ON -DLANDUSE_BUILD_TESTS=ON -DLANDUSE_BUILD_BENCHMARKS=ON
cmake --build build -j"$(nproc)"
