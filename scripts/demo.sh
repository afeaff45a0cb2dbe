#!/usr/bin/env bash
# Installs what the build needs, builds everything and runs the main job.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
cmake --preset default >/dev/null
cmake --build --preset default
build/bin/vantrel-imaq hwinfo
