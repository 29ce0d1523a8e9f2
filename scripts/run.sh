#!/usr/bin/env bash
# Builds the program and starts the window. Without a display it says so and
# runs the headless runner with the default settings instead.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install_packages.sh
scripts/build.sh
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && [ -x build/app/landuse ]; then
  exec build/app/landuse
fi
echo "No display available: running the headless runner with the defaults instead (800 steps, CSV on stdout)." >&2
exec build/app/landuse-headless
