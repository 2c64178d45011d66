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
if [ -t 1 ]; then
  exec wine "$@"
fi
# Wine gives the console programs it starts for children (conhost.exe) our
# standard handles, and such a console host may outlive the program. When
# our caller reads our output through a pipe (ctest does), it would wait for
# that host: so the program writes into a file, which we pass on once the
# program has ended.
out=$(mktemp "${TMPDIR:-/tmp}/wine-run.XXXXXX")
trap 'rm -f "$out"' EXIT
set +e
wine "$@" >"$out" 2>&1 </dev/null
rc=$?
set -e
cat "$out"
exit $rc
