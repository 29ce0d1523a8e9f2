#!/usr/bin/env bash
# Starts the real window on a virtual X display (Xvfb), lets it run and saves
# pictures of it: what a person sees after some steps with "show agents" on,
# one picture per page of the tab control.
#
#   scripts/screenshot.sh [output.png] [steps]     (defaults: docs/screenshot.png, 400)
#
# output.png shows the "Settings" page, the one the window opens with;
# output-setup.png and output-graphic.png show the other two.
# The window takes the pictures itself: LANDUSE_SCREENSHOT names the file and
# LANDUSE_SCREENSHOT_STEPS the step to stop at, exactly (see app/window_main.cpp).
# The program is built (only what changed) in build/, or in LANDUSE_BUILD_DIR.
set -euo pipefail
cd "$(dirname "$0")/.."
out="$(realpath -m "${1:-docs/screenshot.png}")"
steps="${2:-400}"

build="${LANDUSE_BUILD_DIR:-build}"

scripts/install_packages.sh xvfb xauth fonts-dejavu-extra
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release > /dev/null
cmake --build "$build" -j"$(nproc)" --target landuse

mkdir -p "$(dirname "$out")"
LANDUSE_SCREENSHOT="$out" LANDUSE_SCREENSHOT_STEPS="$steps" QT_QPA_PLATFORM=xcb \
  xvfb-run --auto-servernum --server-args="-screen 0 1024x768x24" "$build/app/landuse"
echo "saved $out, ${out%.png}-setup.png and ${out%.png}-graphic.png"
