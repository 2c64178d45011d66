#!/usr/bin/env bash
# Builds the native target and runs the stand-in player kestrune with the
# Velmora component on its built-in default job.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
root="$(dirname "$here")"
BUILD="${VELMORA_BUILD_DIR:-$root/build}/linux"
JOBS="${VELMORA_JOBS:-$(nproc)}"

bash "$here/setup.sh" >&2 || { echo "setup failed"; exit 1; }
cmake -S "$root" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$BUILD" -j "$JOBS" --target kestrune velmora >/dev/null
exec "$BUILD/bin/kestrune" "$@"
