#!/usr/bin/env bash
# Installs what the build needs, builds everything and runs the main job:
# acquires 30 frames of 1920x1080 from the simulated card through the adaptor
# into the stand-in toolbox host and writes them as images into ./capture.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
cmake --preset default >/dev/null
cmake --build --preset default
build/bin/vantrel-imaq acquire --frames 30 --out capture "$@"
