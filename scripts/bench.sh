#!/usr/bin/env bash
# Installs what the build and the benchmarks' peers need (OpenCV, libyuv,
# FFmpeg's codecs), builds, and runs every benchmark, or the ones named.
# Usage: scripts/bench.sh [log|win32|decode|grab|delivery|gst ...]
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh --gstreamer libopencv-dev libavcodec-dev
cmake --preset default >/dev/null
cmake --build --preset default
names=("$@")
((${#names[@]})) || names=(win32 log decode grab delivery gst)
for name in "${names[@]}"; do
  echo "=== ${name}_bench"
  "build/bin/${name}_bench"
done
