#!/usr/bin/env bash
# The main job on the embedded default: the whole download flow into the simulated device.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh" --target vantor "$root/build/default" -DCMAKE_BUILD_TYPE=RelWithDebInfo
exec "$root/build/default/src/cli/vantor" demo "$@"
