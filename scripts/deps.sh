#!/usr/bin/env bash
# Installs the Debian packages the build needs that this machine lacks.
# Usage: scripts/deps.sh [--gstreamer] [extra package ...]
# --gstreamer adds what the GStreamer element, its tests and its pipelines
# need; the main job does without them, so its first run installs less.
set -euo pipefail
gstreamer=()
if [ "${1:-}" = "--gstreamer" ]; then
  shift
  gstreamer=(libgstreamer1.0-dev libgstreamer-plugins-base1.0-dev gstreamer1.0-tools gstreamer1.0-plugins-base
             gstreamer1.0-plugins-good gstreamer1.0-plugins-base-apps)
fi
packages=(cmake ninja-build g++ pkg-config googletest libgtest-dev libgmock-dev libbenchmark-dev
          libcli11-dev libpng-dev libyuv-dev "${gstreamer[@]}" "$@")
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  sudo_cmd=""
  [ "$(id -u)" -eq 0 ] || sudo_cmd="sudo"
  echo "Installing: ${missing[*]}"
  $sudo_cmd apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
