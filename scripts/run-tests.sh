#!/usr/bin/env bash
# Installs what the build and the tests need, builds, runs every test with ctest, then
# runs each fuzz target for FUZZ_SECONDS (default 20; 0 skips the fuzz step).
# Extra arguments go to cmake's configure step (for example -DCORVALE_SANITIZE=ON).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
BUILD_DIR=${BUILD_DIR:-build}
cmake -S . -B "$BUILD_DIR" -G Ninja "$@" >/dev/null
cmake --build "$BUILD_DIR"
ctest --test-dir "$BUILD_DIR" --output-on-failure --timeout 300 -j "$(nproc)"
FUZZ_SECONDS=${FUZZ_SECONDS:-20}
if [ "$FUZZ_SECONDS" != 0 ]; then
  scripts/run-fuzz.sh "$FUZZ_SECONDS"
fi
