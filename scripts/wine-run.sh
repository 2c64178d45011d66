#!/usr/bin/env bash
# Runs a Windows program under Wine in the project's private prefix.
# Used by ctest as the cross-compiling emulator.
set -eu
here="$(cd "$(dirname "$0")" && pwd)"
export WINEPREFIX="${VELMORA_WINEPREFIX:-${XDG_CACHE_HOME:-$HOME/.cache}/velmora/wineprefix}"
export WINEARCH=win32
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
"$here/wine-prefix.sh" "$WINEPREFIX"
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
