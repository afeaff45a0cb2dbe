#!/usr/bin/env bash
# Installs what the build needs, builds what the main job runs and runs it:
# acquires 30 frames of 1920x1080 from the simulated card through the adaptor
# into the stand-in toolbox host and writes them as images into ./capture.
# Only the tool is built, with what it loads: the adaptor module (a build
# dependency of the tool), imaqmex, the grabber library, the simulated card
# and the Win32 layer; the tests and benchmarks are left to scripts/test.sh.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
SECONDS=0
cmake --preset default >/dev/null
cmake --build --preset default --target vantrel-imaq
echo "Configured and built in ${SECONDS} s"
build/bin/vantrel-imaq acquire --frames 30 --out capture "$@"
