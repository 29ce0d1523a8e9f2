#!/usr/bin/env bash
# Builds everything and runs every test (the window's tests run offscreen), then
# does it again in the sanitizer build and runs the fuzzers for half a minute each
# (scripts/sanitize.sh). The last line sums up both.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install_packages.sh
scripts/build.sh
(cd build && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j"$(nproc)") 2>&1 | tee build/ctest.log
release_summary="$(grep -E 'tests passed' build/ctest.log | tail -n 1)"
scripts/package.sh
mkdir -p build-sanitize
scripts/sanitize.sh 30 2>&1 | tee build-sanitize/sanitize.log
echo "release build: $release_summary; $(tail -n 1 build-sanitize/sanitize.log)"
