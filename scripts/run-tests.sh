#!/usr/bin/env bash
# Runs every test of a build folder. The window tests run on Qt's offscreen
# platform, so no display is needed.
set -euo pipefail
build=${1:-build}
export QT_QPA_PLATFORM=offscreen
export QTWEBENGINE_DISABLE_SANDBOX=1
export QTWEBENGINE_CHROMIUM_FLAGS="--disable-gpu --no-sandbox"
cd "$build"
ctest --output-on-failure -j "$(nproc)"
