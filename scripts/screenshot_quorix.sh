#!/bin/sh
# Renders docs/quorix.png: Quorix after a download into the simulated device, on a virtual X
# server (xvfb-run) with the Korean fonts installed (fonts-nanum).
# Usage: scripts/screenshot_quorix.sh [build directory, default build]
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-"$root/build"}
cmake --build "$build" --target quorix_screenshot
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1024x768x24" \
  "$build/tests/quorix/quorix_screenshot" "$tmp/code.bin" "$root/docs/quorix.png"
echo "wrote $root/docs/quorix.png"
