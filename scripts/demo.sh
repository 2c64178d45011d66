#!/usr/bin/env bash
# The main job on a built-in default: starts a private icecast2 on loopback,
# writes a settings file into a fresh profile folder, and runs the stand-in
# player kestrune with the Velmora component on a list of generated tracks
# whose titles change; stops after --seconds N (default 30) or Ctrl-C,
# leaving no process behind.
#
#   bash scripts/demo.sh [--seconds N] [--keep] [--windows]
#     --keep     keep the work folder (settings, icecast's logs) and say where
#     --windows  the real velmora.dll in the Windows kestrune under Wine on a
#                private display: one MP3 stream with the built-in "lame"
#                preset (bin\encoders\lame.exe), connected on startup by the
#                main window; saves a screenshot of it
#
# On Linux two streams (MP3 through lame, Ogg Vorbis through oggenc) run;
# either way the demo prints the listen URLs and a progress line.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
root="$(dirname "$here")"
JOBS="${VELMORA_JOBS:-$(nproc)}"

seconds=30
keep=0
windows=0
while [ $# -gt 0 ]; do
  case "$1" in
    --seconds)
      [ $# -ge 2 ] && [[ "$2" =~ ^[0-9]+$ ]] && [ "$2" -gt 0 ] || { echo "demo: --seconds takes a whole number above 0" >&2; exit 2; }
      seconds="$2"; shift 2 ;;
    --keep) keep=1; shift ;;
    --windows) windows=1; shift ;;
    -h|--help) sed -n '2,16p' "$0"; exit 0 ;;
    *) echo "demo: unknown argument $1" >&2; sed -n '8,13p' "$0" >&2; exit 2 ;;
  esac
done

if [ "$windows" = 1 ]; then
  # The same configuration as the tests' Windows build.
  BUILD="${VELMORA_BUILD_DIR:-$root/build}/win32"
else
  # A build folder of its own, without the tests (which need more packages).
  BUILD="${VELMORA_BUILD_DIR:-$root/build}/demo-linux"
fi

# --- set-up: each step says what it does; the details go to a log that
# is kept, and named when a step fails. Runs at once in one clone keep
# their own logs and screenshots: each takes the first of the build
# folder's demo slots that no other run holds (its lock on fd 7, which
# the programs it starts are not given), "" for slot 0, "-N" for slot N.
. "$here/slot.sh"
take_slot "$(dirname "$BUILD")/demo-slot" 7
own=""
[ "$slot" = 0 ] || own="-$slot"
setup_log="$(dirname "$BUILD")/demo-setup$own.log"
: >"$setup_log"
# Ctrl-C (or a signal to this script alone) ends the player's list; it
# stops its streams cleanly. The Windows player has no console to take the
# signal: the wait for its end closes its main window, which ends it the
# same clean way. Before the player, the run ends after the step at hand.
interrupted=0
player_pid=""
stop_player() {
  interrupted=1
  echo
  echo "demo: stopping"
  if [ "$windows" = 0 ] && [ -n "$player_pid" ]; then
    kill -INT "$player_pid" 2>/dev/null || true
  fi
}
trap stop_player INT TERM
step_failed() {
  # (A step that a Ctrl-C ended has not failed.)
  [ "$interrupted" = 0 ] || exit 130
  echo "demo: that step failed; the set-up log is $setup_log" >&2
  tail -n 5 "$setup_log" | sed 's/^/  | /' >&2
  exit 1
}
step() { # TEXT COMMAND...: runs the step, its output into the set-up log
  local text="$1"
  shift
  # After a Ctrl-C no step begins (a step that had ended well by then,
  # or ignored it, does not carry the run on to the next).
  [ "$interrupted" = 0 ] || exit 130
  echo "demo: $text"
  echo "===== $text" >>"$setup_log"
  "$@" </dev/null >>"$setup_log" 2>&1 7>&- 8>&- || step_failed
}
# The packages step tells which packages it installs.
packages() { # setup.sh's arguments
  bash "$here/setup.sh" "$@" 2>&1 | tee -a "$setup_log" | { grep --line-buffered '^setup: ' || true; } |
    sed -u 's/^setup: /demo:   /'
  return "${PIPESTATUS[0]}"
}
echo "===== packages" >>"$setup_log"
if [ "$windows" = 1 ]; then
  echo "demo: checking the Debian packages (build tools, mingw-w64, Wine, Xvfb, icecast2) and the"
  echo "demo: cross-built Windows dependencies (Poco, soxr, GoogleTest, lame.exe); what is missing is"
  echo "demo: installed and built now, minutes on a fresh machine (set-up log: $setup_log)"
  packages || step_failed
  step "configuring the Windows build in $BUILD" \
    cmake -S "$root" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw32.cmake"
  step "building kestrune.exe and velmora.dll (a few minutes the first time)" \
    cmake --build "$BUILD" -j "$JOBS" --target kestrune velmora
  [ -f "$BUILD/bin/encoders/lame.exe" ] || { echo "demo: $BUILD/bin/encoders/lame.exe is missing" >>"$setup_log"; step_failed; }
else
  echo "demo: checking the Debian packages the demo needs (build tools, Poco, soxr, icecast2, lame, oggenc);"
  echo "demo: missing ones are installed now (set-up log: $setup_log)"
  packages --linux-demo || step_failed
  step "configuring the build in $BUILD" \
    cmake -S "$root" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELMORA_TESTS=OFF
  step "building the player kestrune and the component (a minute or two the first time)" \
    cmake --build "$BUILD" -j "$JOBS" --target kestrune velmora
fi

[ "$interrupted" = 0 ] || exit 130
work="$(mktemp -d /tmp/velmora-demo.XXXXXX)"
chmod 755 "$work"
ice_pid=""
xvfb_pid=""
show_pid=""
progress_pid=""
prefix=""
# Whether PID has ended within TENTHS tenths of a second. The script's
# helpers are waited for this way, not by `wait`: after a Ctrl-C, bash has
# been seen to wait forever there for a helper that had ended.
ended() { # PID TENTHS
  local i
  for ((i = 0; i < $2; i++)); do
    kill -0 "$1" 2>/dev/null || return 0
    sleep 0.1 || true
  done
  ! kill -0 "$1" 2>/dev/null
}
end_processes() { # PID...: asks them to end, and makes them after 5 s
  local pid
  for pid in "$@"; do kill -TERM "$pid" 2>/dev/null || true; done
  for pid in "$@"; do ended "$pid" 50 || kill -KILL "$pid" 2>/dev/null || true; done
}
cleanup() {
  # A second Ctrl-C does not cut this short: each step is bounded.
  trap '' INT TERM
  # The player first (it stops its streams and encoders), then the rest.
  # Under Wine: every program of the run's prefix, until the player has
  # ended (one that was starting may start the prefix's server anew).
  if [ -n "$prefix" ]; then
    for _ in 1 2 3 4 5 6 7 8 9 10; do
      WINEPREFIX="$prefix" wineserver -k >/dev/null 2>&1 || true
      [ -n "$player_pid" ] && ! ended "$player_pid" 5 || break
    done
  fi
  [ -z "$player_pid" ] || end_processes "$player_pid"
  # (Those that were started.)
  end_processes $progress_pid $show_pid $xvfb_pid $ice_pid
  if [ "$keep" = 1 ]; then echo "demo: work folder kept: $work"; else rm -rf "$work"; fi
}
trap cleanup EXIT

# --- the server: icecast2 in a session of its own, so Ctrl-C leaves it to us
port="$(bash "$here/test-peers.sh" port)"
setsid bash "$here/test-peers.sh" icecast "$work/icecast" "$port" </dev/null >/dev/null 2>&1 7>&- &
ice_pid=$!
for _ in $(seq 1 100); do
  curl -sf -m 2 -u admin:hackme-admin "http://127.0.0.1:$port/admin/stats" 2>/dev/null | grep -q '<icestats>' && break
  kill -0 "$ice_pid" 2>/dev/null || { echo "demo: icecast2 did not start" >&2; exit 1; }
  sleep 0.1
done
status_page="http://127.0.0.1:$port/status.xsl"

# --- the settings
mkdir -p "$work/profile"
stream_group() { # NAME MOUNT ENCODER PARAMS FORMAT ENCODER_NAME [DESCRIPTION]
  cat <<EOF
  <stream>
    <server>
      <type>0</type><host>127.0.0.1</host><port>$port</port><password>hackme-source</password>
      <mount_point>$2</mount_point>
      <yp><pub>0</pub><name>$1</name><desc>Velmora demo</desc><genre>Test tones</genre><url>http://127.0.0.1:$port/</url><charset>UTF-8</charset></yp>
    </server>
    <encoder>
      <encoder_file>$3</encoder_file><encoder_params>$4</encoder_params><format>$5</format>
      <wave_format>0</wave_format><wave_header>0</wave_header><sampling_rate>44100</sampling_rate><channel>2</channel>
      <encoder_name>$6</encoder_name><bitrate>128</bitrate><description>${7:-}</description>
    </encoder>
  </stream>
EOF
}
lame_params="-r -s 44.1 --bitwidth 16 --signed --little-endian -m j -b 128 --flush --quiet - -"
# A path as Windows programs under Wine see it (Wine's drive Z: is /).
windows_path() { printf 'Z:%s' "${1//\//\\}"; }
{
  echo '<velmora version="1.4.1">'
  if [ "$windows" = 1 ]; then
    # The window connects its first stream when it opens.
    echo '  <common><title_format>%artist% - %title%</title_format><auto_update_metadata>1</auto_update_metadata><auto_reconnect>1</auto_reconnect><connect_on_startup>1</connect_on_startup><window_left>40</window_left><window_top>40</window_top></common>'
    # The built-in "lame" preset as it stands: the player runs in bin\, where
    # its encoders\lame.exe is.
    stream_group "Velmora MP3" /velmora.mp3 'encoders\lame.exe' "-r --quiet --flush --preset cbr 128 -" 0 lame "CBR 128kbps"
  else
    echo '  <common><title_format>%artist% - %title%</title_format><auto_update_metadata>1</auto_update_metadata><auto_reconnect>1</auto_reconnect></common>'
    stream_group "Velmora MP3" /velmora.mp3 lame "$lame_params" 0 LAME
    stream_group "Velmora Vorbis" /velmora.ogg oggenc \
      '-Q -r -B 16 -C 2 -R 44100 --raw-endianness 0 --managed -b 128 -m 128 -M 128 -a "%artist%" -t "%title%" -o - -' 4 "Ogg Vorbis"
  fi
  echo '</velmora>'
} >"$work/profile/velmora.xml"

# --- the playlist: ten-second tracks with changing titles and tones
tracks=()
names=("First Light" "Second Wind" "Third Rail" "Fourth Wall" "Fifth Season" "Sixth Sense")
freqs=("440,660" "330,495" "392,588" "523,784" "294,441" "349,523")
total=0
i=0
while [ "$total" -lt "$seconds" ]; do
  k=$((i % ${#names[@]}))
  tracks+=(--signal 10 --artist "Velmora Demo" --title "${names[$k]}" --freq "${freqs[$k]}")
  total=$((total + 10)); i=$((i + 1))
done

# One progress line: rewritten in place on a terminal, else every 5 s.
tty=0
[ -t 1 ] && tty=1
last_shown=-5
progress_line() { # ELAPSED SENT TITLE
  if [ "$tty" = 1 ]; then
    printf '\r\033[K[%3d s] %s | %s' "$1" "$2" "$3"
  elif [ $(($1 - last_shown)) -ge 5 ]; then
    printf '[%3d s] %s | %s\n' "$1" "$2" "$3"
    last_shown=$1
  fi
}

# The player's output, with its statistics folded into one progress line.
show() {
  # Ctrl-C is the player's to handle; its last lines still come through here.
  trap '' INT TERM
  local line rest name secs bytes sent title="" mp3=0 ogg=0 elapsed=0 urls=0
  while IFS= read -r line; do
    line="${line%$'\r'}"
    case "$line" in
      "console: velmora: Statistics: "*)
        rest="${line#console: velmora: Statistics: }"
        name="${rest%%: *}"; rest="${rest#*: }"
        secs="${rest%% s,*}"; bytes="${rest#*s, }"; bytes="${bytes%% bytes sent*}"
        case "$name" in *MP3*) mp3=$bytes ;; *) ogg=$bytes ;; esac
        elapsed=$secs
        sent="MP3 $((mp3 / 1024)) KB, Vorbis $((ogg / 1024)) KB sent"
        progress_line "$elapsed" "$sent" "$title"
        ;;
      "track: "*) title="${line#track: }" ;;
      "console: velmora: Listen URL: "*)
        # Under Wine the script itself says where to listen.
        [ "$windows" = 1 ] && continue
        [ "$tty" = 1 ] && printf '\r\033[K'
        rest="${line#console: velmora: Listen URL: }"
        echo "demo: listen to ${rest%%: *} at ${rest#*: }"
        urls=$((urls + 1))
        [ "$urls" = 2 ] && echo "demo: the server's status page: $status_page"
        ;;
      "console: velmora: Streaming "*|"console: velmora: Error: "*|"console: velmora: Reconnect"*|"end of list"|"stopped by a signal"|"main window closed")
        [ "$tty" = 1 ] && printf '\r\033[K'
        echo "$line"
        ;;
    esac
  done
  [ "$tty" = 1 ] && echo
  return 0
}

# Waits for the player's end. After a Ctrl-C, STOP (a command) asks it to
# stop, again every 3 s (one that came as it started may have gone
# unheard), and FORCE (a command) ends it if it has not ended 10 s later.
wait_player() { # STOP FORCE
  local asked="" last=""
  while kill -0 "$player_pid" 2>/dev/null; do
    if [ "$interrupted" = 1 ]; then
      if [ -z "$asked" ]; then
        asked=$SECONDS last=$SECONDS
        $1 2>/dev/null || true
      elif ((SECONDS - asked >= 10)); then
        echo "demo: the player did not stop; ending it" >&2
        $2 >/dev/null 2>&1 || true
        ended "$player_pid" 50 || true
        return 0
      elif ((SECONDS - last >= 3)); then
        last=$SECONDS
        $1 2>/dev/null || true
      fi
    fi
    sleep 0.1 || true
  done
}

if [ "$windows" = 0 ]; then
  [ "$interrupted" = 0 ] || exit 130
  echo "demo: icecast2 on 127.0.0.1:$port; streaming for $seconds s (Ctrl-C stops earlier)"
  mkfifo "$work/output"
  show <"$work/output" &
  show_pid=$!
  "$BUILD/bin/kestrune" --profile "$work/profile" --seconds "$seconds" "${tracks[@]}" >"$work/output" 2>&1 7>&- &
  player_pid=$!
  wait_player "kill -INT $player_pid" "kill -KILL $player_pid"
  status=0
  wait "$player_pid" || status=$?
  player_pid=""
  # Its output ends with it. (A player that a Ctrl-C ended before it opened
  # its output leaves the reader waiting for a writer: one comes and goes.)
  exec 6<>"$work/output"
  exec 6>&-
  ended "$show_pid" 50 || true
  echo "demo: done (the player ended with status $status)"
  # Ended by Ctrl-C: the status a shell user expects.
  [ "$interrupted" = 1 ] && exit 130
  exit "$status"
fi

# --- Windows: a private display and a Wine prefix of this run's own
[ "$interrupted" = 0 ] || exit 130
echo "demo: starting a private X display (Xvfb)"
# (The file is there before Xvfb writes its number into it.)
: >"$work/display"
# In a session of its own, so Ctrl-C leaves it to us.
setsid Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -noreset 3>"$work/display" >"$work/xvfb.log" 2>&1 7>&- &
xvfb_pid=$!
number=""
for _ in $(seq 1 100); do
  number="$(tr -dc '0-9' <"$work/display")"
  [ -n "$number" ] && break
  kill -0 "$xvfb_pid" 2>/dev/null || break
  sleep 0.1
done
[ -n "$number" ] || { echo "demo: Xvfb did not start:" >&2; cat "$work/xvfb.log" >&2; exit 1; }
export DISPLAY=":$number"
# The end of a run ends every Wine program of its prefix: each run takes the
# first of the demo's prefixes that no other run holds (its lock on fd 8,
# which the Wine programs are not given), made once and kept for later runs.
demo_prefixes="${VELMORA_WINEPREFIX:-${XDG_CACHE_HOME:-$HOME/.cache}/velmora/wineprefix}-demo"
take_slot "$demo_prefixes" 8
prefix="$demo_prefixes$slot"
export WINEPREFIX="$prefix" WINEARCH=win32 WINEDEBUG="${WINEDEBUG:--all}" WINEDLLOVERRIDES="mscoree,mshtml="
if [ -f "$prefix/system.reg" ]; then
  step "using the Wine prefix $prefix" "$here/wine-prefix.sh" "$prefix"
else
  step "making the Wine prefix $prefix (once)" "$here/wine-prefix.sh" "$prefix"
fi
# No window manager runs on this display: Wine must not wait for one.
step "telling Wine that no window manager runs here" \
  wine reg add 'HKCU\Software\Wine\AppDefaults\kestrune.exe\X11 Driver' /v Managed /d N /f

# (Not after a Ctrl-C.)
[ "$interrupted" = 0 ] || exit 130
echo "demo: icecast2 on 127.0.0.1:$port; kestrune.exe with velmora.dll under Wine for $seconds s (Ctrl-C stops earlier)"
# The output goes to a file (a console host Wine starts may keep a pipe
# open after the program has ended), and so does its status.
: >"$work/output"
# In a session of its own: Ctrl-C is the script's, which closes the
# player's window.
(
  cd "$BUILD/bin" || exit
  setsid wine kestrune.exe --profile "$(windows_path "$work/profile")" --seconds "$seconds" \
    "${tracks[@]}" </dev/null >"$work/output" 2>&1 7>&- 8>&-
  echo $? >"$work/status"
) &
player_pid=$!
tail -n +1 -s 0.2 -f --pid="$player_pid" "$work/output" 2>/dev/null | show &
show_pid=$!

# The window prints no statistics: the progress comes from icecast2's
# statistics of the mount, the bytes it has read and the title it shows.
mount_progress() { # MOUNT STARTED_AT
  local stats source bytes title
  while kill -0 "$player_pid" 2>/dev/null; do
    stats="$(curl -sf -m 2 -u admin:hackme-admin "http://127.0.0.1:$port/admin/stats" 2>/dev/null)" || stats=""
    source="${stats#*<source mount=\"$1\">}"
    if [ "$source" != "$stats" ]; then
      source="${source%%</source>*}"
      bytes="$(sed -n 's:.*<total_bytes_read>\([0-9]*\)</total_bytes_read>.*:\1:p' <<<"$source")"
      title="$(sed -n "/<title>/{s:.*<title>\([^<]*\)</title>.*:\1:;s/&lt;/</g;s/&gt;/>/g;s/&quot;/\"/g;s/&apos;/'/g;s/&amp;/\&/g;p}" <<<"$source")"
      progress_line $((SECONDS - $2)) "MP3 $((${bytes:-0} / 1024)) KB sent" "$title"
    fi
    sleep 1
  done
}

# Once the stream runs: where to listen, and a screenshot of the window.
# (A Ctrl-C ends each wait and skips what is left of this.)
shot="$(dirname "$BUILD")/demo-windows$own.png"
rm -f "$shot"
for _ in $(seq 1 600); do
  [ "$interrupted" = 0 ] || break
  grep -q "console: velmora: Streaming start: Velmora MP3" "$work/output" 2>/dev/null && break
  kill -0 "$player_pid" 2>/dev/null || break
  sleep 0.1 || true
done
if [ "$interrupted" = 0 ] && grep -q "console: velmora: Streaming start: Velmora MP3" "$work/output" 2>/dev/null; then
  echo "demo: listen to Velmora MP3 at http://127.0.0.1:$port/velmora.mp3"
  echo "demo: the server's status page: $status_page"
  mount_progress /velmora.mp3 "$SECONDS" &
  progress_pid=$!
  # A few seconds of streaming: the meters move and the Monitor fills.
  sleep 4 || true
  # (Over the progress line, which goes on after it.)
  [ "$tty" = 1 ] && printf '\r\033[K'
  # The capture runs in the background and is polled: a Ctrl-C that came
  # while bash waited on a foreground pipeline could end the script
  # without its handler, and the player was then ended instead of stopped.
  rm -f "$work/shot-taken"
  if [ "$interrupted" = 0 ] && kill -0 "$player_pid" 2>/dev/null; then
    { xwd -root -silent -display "$DISPLAY" | convert xwd:- -trim +repage "$shot" && : >"$work/shot-taken"; } \
      </dev/null 2>>"$setup_log" &
    shot_pid=$!
    ended "$shot_pid" 300 || end_processes "$shot_pid"
    if [ -f "$work/shot-taken" ]; then
      echo "demo: screenshot of the streaming window: $shot"
    elif [ "$interrupted" = 0 ]; then
      echo "demo: no screenshot could be taken (see $setup_log)" >&2
    fi
  fi
fi
# The player's end: after a Ctrl-C its main window is closed.
close_window() { setsid wine taskkill /im kestrune.exe </dev/null >>"$setup_log" 2>&1 7>&- 8>&- & }
wait_player close_window "wineserver -k"
status="$(cat "$work/status" 2>/dev/null || true)"
player_pid=""
# The progress loop and the output end with the player.
[ -z "$progress_pid" ] || end_processes "$progress_pid"
ended "$show_pid" 50 || true
if [ "$interrupted" = 0 ] && ! grep -q "console: velmora: Streaming start: Velmora MP3" "$work/output" 2>/dev/null; then
  echo "demo: the stream did not start; the player's last lines:" >&2
  tail -n 15 "$work/output" | sed 's/^/  | /' >&2
fi
echo "demo: done (the player ended with status ${status:-unknown})"
[ "$interrupted" = 1 ] && exit 130
exit "${status:-1}"
