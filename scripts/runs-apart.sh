#!/usr/bin/env bash
# Checks that demo and screenshot runs keep to themselves:
#   demos       two Windows demos at once from this clone: each keeps its own
#               set-up log (nothing of the other's run in it) and screenshot
#   screenshots a screenshot run beside a Windows program of the tests'
#               display prefix: the program still runs when the screenshot
#               run has ended (which ends every Wine program of its prefix)
# Ends with "N passed, N failed". Slow (whole demo and screenshot runs);
# not part of scripts/test.sh. Runs the Wine programs in the prefixes under
# VELMORA_WINEPREFIX (default ~/.cache/velmora/wineprefix), as the demo and
# the tests do.
#
#   bash scripts/runs-apart.sh [demos] [screenshots]
set -uo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
root="$(dirname "$here")"
base="${VELMORA_WINEPREFIX:-${XDG_CACHE_HOME:-$HOME/.cache}/velmora/wineprefix}"
work="$(mktemp -d /tmp/velmora-apart.XXXXXX)"
trap 'kill_victim; rm -rf "$work"' EXIT

passed=0
failed=0
check() { # TEXT CONDITION...
  local text="$1"
  shift
  if "$@"; then
    passed=$((passed + 1)); echo "ok: $text"
  else
    failed=$((failed + 1)); echo "FAILED: $text"
  fi
}
# The value after PREFIX on the line of FILE that starts with it.
said() { sed -n "s|^$2||p" "$1" | head -n 1; }
# The set-up log a demo's output names.
log_of() { sed -n 's|.*(set-up log: \(.*\))$|\1|p' "$1" | head -n 1; }

demos() {
  local a="$work/demo-a.out" b="$work/demo-b.out" pa pb
  bash "$here/demo.sh" --windows --seconds 8 >"$a" 2>&1 &
  pa=$!
  bash "$here/demo.sh" --windows --seconds 8 >"$b" 2>&1 &
  pb=$!
  local sa=0 sb=0
  wait "$pa" || sa=$?
  wait "$pb" || sb=$?
  check "both demos ran (status $sa and $sb)" test "$sa" = 0 -a "$sb" = 0
  local log_a log_b shot_a shot_b
  log_a="$(log_of "$a")"
  log_b="$(log_of "$b")"
  shot_a="$(said "$a" "demo: screenshot of the streaming window: ")"
  shot_b="$(said "$b" "demo: screenshot of the streaming window: ")"
  check "each demo has a set-up log of its own ($log_a, $log_b)" \
    test -n "$log_a" -a -n "$log_b" -a "$log_a" != "$log_b"
  check "each demo has a screenshot of its own ($shot_a, $shot_b)" \
    test -n "$shot_a" -a -n "$shot_b" -a "$shot_a" != "$shot_b" -a -s "$shot_a" -a -s "$shot_b"
  local out log prefix
  for out in "$a" "$b"; do
    log="$(log_of "$out")"
    prefix="$(said "$out" "demo: using the Wine prefix ")"
    [ -n "$prefix" ] || prefix="$(said "$out" "demo: making the Wine prefix ")"
    prefix="${prefix% (once)}"
    # One run's steps, in the prefix it said it used.
    check "the set-up log $log holds its own run alone" \
      test -f "$log" -a -n "$prefix" -a "$(grep -c '^===== packages$' "$log" 2>/dev/null)" = 1 \
      -a "$(grep -c "^===== .*Wine prefix" "$log" 2>/dev/null)" = 1 \
      -a "$(grep -c "^===== .*Wine prefix ${prefix}\( (once)\)\?$" "$log" 2>/dev/null)" = 1
  done
}

victim_pid=""
running() { kill -0 "$victim_pid" 2>/dev/null; }
# (By its PID alone: others' programs may run in that prefix. Its Wine
# server ends by itself a few seconds after its last program.)
kill_victim() {
  [ -n "$victim_pid" ] || return 0
  local i
  kill "$victim_pid" 2>/dev/null
  for i in $(seq 1 50); do running || break; sleep 0.1; done
  kill -KILL "$victim_pid" 2>/dev/null
  victim_pid=""
}

screenshots() {
  # A Windows program in the tests' display prefix, as a window test runs
  # there: lame.exe waiting for input that does not come.
  local lame="$root/build/win32/bin/encoders/lame.exe" i
  if [ ! -f "$lame" ]; then
    check "lame.exe is built (bash scripts/demo.sh --windows builds it)" false
    return
  fi
  bash "$here/wine-prefix.sh" "$base-display"
  mkfifo "$work/never"
  (export WINEPREFIX="$base-display" WINEARCH=win32 WINEDEBUG=-all
    exec setsid wine "$lame" -r --quiet - "$work/never.mp3" <"$work/never" >/dev/null 2>&1) &
  victim_pid=$!
  exec 5>"$work/never"
  # (Wine names the process after the Windows program once it runs it.)
  for i in $(seq 1 300); do
    grep -q 'lame\.exe' "/proc/$victim_pid/cmdline" 2>/dev/null && break
    running || break
    sleep 0.1
  done
  check "a Windows program runs in the tests' display prefix" grep -q 'lame\.exe' "/proc/$victim_pid/cmdline"
  local status=0
  bash "$here/screenshots.sh" >"$work/screenshots.out" 2>&1 || status=$?
  check "the screenshot run ran (status $status)" test "$status" = 0
  check "that program still runs after the screenshot run" running
  exec 5>&-
  kill_victim
}

what=("$@")
[ ${#what[@]} -gt 0 ] || what=(demos screenshots)
for w in "${what[@]}"; do
  case "$w" in
    demos) demos ;;
    screenshots) screenshots ;;
    *) echo "runs-apart: unknown trial $w" >&2; exit 2 ;;
  esac
done
echo "$passed passed, $failed failed"
[ "$failed" = 0 ]
