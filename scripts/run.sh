#!/usr/bin/env bash
# Builds the program and starts the window. Without a display it says so and
# runs the headless runner with the default settings instead: its CSV is all
# that reaches stdout, as everything the build prints goes to stderr. The Python
# package is built too where the build has it, so that PYTHONPATH=build/python
# imports it next.
set -euo pipefail
cd "$(dirname "$0")/.."
window=""
[ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && window=yes
{
  scripts/install_packages.sh
  # Only the program that runs is built (the window also needs the runner for its
  # fallback), and the Python package; scripts/build.sh builds the tests and
  # benchmarks. A build folder that exists keeps its settings.
  if [ ! -f build/CMakeCache.txt ]; then
    cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DLANDUSE_BUILD_UI=ON
  fi
  targets=(landuse-headless)
  if grep -q '^LANDUSE_BUILD_PYTHON:BOOL=ON' build/CMakeCache.txt; then
    targets+=(landuse_python)
  fi
  if [ -n "$window" ] && grep -q '^LANDUSE_BUILD_UI:BOOL=ON' build/CMakeCache.txt; then
    targets+=(landuse)
  fi
  cmake --build build --target "${targets[@]}" -j"$(nproc)"
} >&2
if [ -n "$window" ] && [ -x build/app/landuse ]; then
  exec build/app/landuse
fi
echo "No display available: running the headless runner with the defaults instead (800 steps, CSV on stdout)." >&2
exec build/app/landuse-headless
