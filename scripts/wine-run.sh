#!/usr/bin/env bash
# Runs a Windows program under Wine in the project's private prefix.
# Used by ctest as the cross-compiling emulator.
set -eu
export WINEPREFIX="${VELMORA_WINEPREFIX:-${XDG_CACHE_HOME:-$HOME/.cache}/velmora/wineprefix}"
export WINEARCH=win32
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  mkdir -p "$(dirname "$WINEPREFIX")"
  # Several tests may start at once: one of them makes the prefix.
  exec 9>"$WINEPREFIX.lock"
  flock 9
  [ -f "$WINEPREFIX/system.reg" ] || wineboot -i >/dev/null 2>&1 || true
  flock -u 9
fi
# Start the prefix's server ourselves, detached from our output: a server
# started by the program would inherit the caller's pipes (ctest's), and the
# caller would wait for it. It stays ten seconds after its last client.
wineserver -p10 </dev/null >/dev/null 2>&1 || true
exec wine "$@"
