#!/usr/bin/env bash
# Renders Velmora's dialogs, the Configuration sheet (each page filled, the
# Server page once per server type, a refusal message over the sheet), the
# encoder setup's open-file dialog, the level meter at several levels, the
# stream list (also at the main window's width with a long-named stream
# reconnecting), the Monitor, Clients and History views filled with sample
# data and the main window (idle, streaming, reconnecting, its tray popup and
# its closing question) into PNG files under build/win32/screenshots/ (for
# the README and for review): it builds the Windows target and runs the
# window tests, which save what they show, under Wine on a private X display
# with the test peers (icecast2) on loopback.
#
#   bash scripts/screenshots.sh      (VELMORA_BUILD_DIR, VELMORA_JOBS as for test.sh)
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
root="$(dirname "$here")"
JOBS="${VELMORA_JOBS:-$(nproc)}"
build="${VELMORA_BUILD_DIR:-$root/build}/win32"

bash "$here/setup.sh"
mkdir -p "$build"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw32.cmake" >"$build.configure.log"
cmake --build "$build" -j "$JOBS" --target velmora test_ui
rm -rf "$build/screenshots"
# The window tests end every Wine program of their prefix when they are
# done: each run takes a prefix of its own, beside the tests', the first of
# the screenshot runs' prefixes that no other run holds (its lock on fd 8,
# which the programs are not given), made once and kept for later runs.
. "$here/slot.sh"
shots_prefixes="${VELMORA_WINEPREFIX:-${XDG_CACHE_HOME:-$HOME/.cache}/velmora/wineprefix}-screenshots"
take_slot "$shots_prefixes" 8
# (with-display.sh adds "-display" to it.)
export VELMORA_WINEPREFIX="$shots_prefixes$slot"
status=0
bash "$here/test-peers.sh" run bash "$here/with-display.sh" "$build/bin/test_ui.exe" --gtest_color=no \
  >"$build/screenshots.log" 2>&1 8>&- || status=$?
if [ "$status" -ne 0 ]; then
  cat "$build/screenshots.log"
  echo "screenshots: the window tests failed" >&2
fi
ls -1 "$build"/screenshots/*.png
exit $status
