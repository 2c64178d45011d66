#!/usr/bin/env bash
# Runs a program on a private X display: starts Xvfb on a display number
# nobody uses (no TCP listener), runs PROGRAM with DISPLAY set and
# VELMORA_DISPLAY=1 (a *.exe PROGRAM under Wine), then stops the server by
# its PID. Without Xvfb the program runs without a display; its window
# tests then fail under CI=true and are skipped otherwise.
#
#   with-display.sh PROGRAM [ARGS...]
set -u
here="$(cd "$(dirname "$0")" && pwd)"

# Wine ties all windows of a prefix to the display of the program that
# made the prefix's first window, and the other tests (run without a
# display, some with hidden windows) share the usual prefix: Windows
# programs here run in a prefix of their own beside it, whose Wine server
# is ended when the program has run.
if [[ "${1:-}" == *.exe ]]; then
  export VELMORA_WINEPREFIX="${VELMORA_WINEPREFIX:-${XDG_CACHE_HOME:-$HOME/.cache}/velmora/wineprefix}-display"
  end_wine() { WINEPREFIX="$VELMORA_WINEPREFIX" wineserver -k >/dev/null 2>&1 || true; }
else
  end_wine() { :; }
fi

run() {
  case "$1" in
    *.exe) "$here/wine-run.sh" "$@" ;;
    *) "$@" ;;
  esac
}

if ! command -v Xvfb >/dev/null; then
  echo "with-display: Xvfb is not installed (bash scripts/setup.sh installs it)" >&2
  unset VELMORA_DISPLAY
  run "$@"
  status=$?
  end_wine
  exit $status
fi

work="$(mktemp -d /tmp/velmora-display.XXXXXX)"
xpid=""
stop_display() {
  end_wine
  if [ -n "$xpid" ]; then
    kill "$xpid" 2>/dev/null
    wait "$xpid" 2>/dev/null
  fi
  rm -rf "$work"
}
trap stop_display EXIT

# Xvfb picks a free display number and writes it to fd 3 once it accepts
# connections.
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -noreset 3>"$work/display" >"$work/xvfb.log" 2>&1 &
xpid=$!
number=""
for _ in $(seq 1 100); do
  number="$(tr -dc '0-9' <"$work/display")"
  [ -n "$number" ] && break
  kill -0 "$xpid" 2>/dev/null || break
  sleep 0.1
done
if [ -z "$number" ]; then
  echo "with-display: Xvfb did not start:" >&2
  cat "$work/xvfb.log" >&2
  unset VELMORA_DISPLAY
  run "$@"
  exit $?
fi

export DISPLAY=":$number"
export VELMORA_DISPLAY=1
case "$1" in
  *.exe)
    # No window manager runs here, and Wine would wait two seconds for one
    # each time a top-level window goes away: tell Wine, for this program
    # and the player it starts (kestrune.exe), that their windows are not
    # managed.
    for program in "$(basename "$1")" kestrune.exe; do
      "$here/wine-run.sh" reg add "HKCU\\Software\\Wine\\AppDefaults\\$program\\X11 Driver" \
        /v Managed /d N /f >/dev/null 2>&1 || true
    done
    ;;
esac
run "$@"
exit $?
