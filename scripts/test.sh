#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole test suite.
# BUILD_DIR and CMAKE_ARGS choose another build (the sanitizer builds of CI).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
BUILD_DIR=${BUILD_DIR:-build}
JOBS=${JOBS:-$(nproc)}
cmake -S . -B "$BUILD_DIR" -G Ninja ${CMAKE_ARGS:-} >/dev/null
cmake --build "$BUILD_DIR" -j "$JOBS"
export QT_QPA_PLATFORM=offscreen
ctest --test-dir "$BUILD_DIR" --output-on-failure -j "$JOBS" ${CTEST_ARGS:-}
