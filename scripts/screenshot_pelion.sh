#!/bin/sh
# Builds the screenshot program and takes docs/pelion.png: the Pelion dialog after an upload of
# the firmware and boot regions from the simulated device, under Xvfb.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build-pelion}
if [ ! -f "$build/build.ninja" ]; then
  cmake -S "$root" -B "$build" -G Ninja
fi
cmake --build "$build" -j2 --target pelion_screenshot
mkdir -p "$root/docs"
xvfb-run -a -s "-screen 0 1280x800x24" "$build/tests/pelion/pelion_screenshot" "$root/docs/pelion.png"
echo "wrote $root/docs/pelion.png"
