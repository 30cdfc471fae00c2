#!/usr/bin/env bash
# Installs what the build needs, builds, and runs Corvale on the demo configuration.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
BUILD_DIR=${BUILD_DIR:-build}
cmake -S . -B "$BUILD_DIR" -G Ninja -DCORVALE_BUILD_TESTS=OFF -DCORVALE_BUILD_BENCH=OFF >/dev/null
cmake --build "$BUILD_DIR" --target corvale corvale-msg
"$BUILD_DIR"/src/corvale --version
