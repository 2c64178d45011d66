#!/usr/bin/env bash
# The main job on a built-in default: starts a private icecast2 on loopback,
# writes a settings file with two streams (MP3 through lame, Ogg Vorbis
# through oggenc) into a fresh profile folder, and runs the stand-in player
# kestrune with the Velmora component on a list of generated tracks whose
# titles change. It prints both listen URLs and a progress line while it
# streams, and stops after --seconds N (default 30) or Ctrl-C, leaving no
# process behind.
#
#   bash scripts/demo.sh [--seconds N] [--keep]
#     --keep   keep the work folder (settings, icecast's logs) and say where
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
root="$(dirname "$here")"
# A build folder of its own, without the tests (which need more packages).
BUILD="${VELMORA_BUILD_DIR:-$root/build}/demo-linux"
JOBS="${VELMORA_JOBS:-$(nproc)}"

seconds=30
keep=0
while [ $# -gt 0 ]; do
  case "$1" in
    --seconds)
      [ $# -ge 2 ] && [[ "$2" =~ ^[0-9]+$ ]] && [ "$2" -gt 0 ] || { echo "demo: --seconds takes a whole number above 0" >&2; exit 2; }
      seconds="$2"; shift 2 ;;
    --keep) keep=1; shift ;;
    -h|--help) sed -n '2,11p' "$0"; exit 0 ;;
    *) echo "demo: unknown argument $1" >&2; sed -n '10,11p' "$0" >&2; exit 2 ;;
  esac
done

# --- set-up: each step says what it does; the details go to a log that
# is kept, and named when a step fails.
mkdir -p "$(dirname "$BUILD")"
setup_log="$(dirname "$BUILD")/demo-setup.log"
: >"$setup_log"
step() { # TEXT COMMAND...: runs the step, its output into the set-up log
  local text="$1"
  shift
  echo "demo: $text"
  echo "===== $text" >>"$setup_log"
  if ! "$@" >>"$setup_log" 2>&1; then
    echo "demo: that step failed; the set-up log is $setup_log" >&2
    tail -n 5 "$setup_log" | sed 's/^/  | /' >&2
    exit 1
  fi
}
# The packages step tells which packages it installs.
packages() {
  bash "$here/setup.sh" --linux-demo 2>&1 | tee -a "$setup_log" | { grep --line-buffered '^setup: ' || true; } |
    sed -u 's/^setup: /demo:   /'
  return "${PIPESTATUS[0]}"
}
echo "demo: checking the Debian packages the demo needs (build tools, Poco, soxr, icecast2, lame, oggenc);"
echo "demo: missing ones are installed now (set-up log: $setup_log)"
echo "===== packages" >>"$setup_log"
if ! packages; then
  echo "demo: installing the packages failed; the set-up log is $setup_log" >&2
  tail -n 5 "$setup_log" | sed 's/^/  | /' >&2
  exit 1
fi
step "configuring the build in $BUILD" \
  cmake -S "$root" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELMORA_TESTS=OFF
step "building the player kestrune and the component (a minute or two the first time)" \
  cmake --build "$BUILD" -j "$JOBS" --target kestrune velmora

work="$(mktemp -d /tmp/velmora-demo.XXXXXX)"
chmod 755 "$work"
ice_pid=""
player_pid=""
cleanup() {
  # The player first (it stops its streams and encoders), then the server.
  if [ -n "$player_pid" ] && kill -0 "$player_pid" 2>/dev/null; then
    kill -TERM "$player_pid" 2>/dev/null || true
    wait "$player_pid" 2>/dev/null || true
  fi
  if [ -n "$ice_pid" ] && kill -0 "$ice_pid" 2>/dev/null; then
    kill -TERM "$ice_pid" 2>/dev/null || true
    wait "$ice_pid" 2>/dev/null || true
  fi
  if [ "$keep" = 1 ]; then echo "demo: work folder kept: $work"; else rm -rf "$work"; fi
}
trap cleanup EXIT
# Ctrl-C (or a signal to this script alone) ends the player's list; it
# stops its streams cleanly.
interrupted=0
stop_player() {
  interrupted=1
  echo
  echo "demo: stopping"
  [ -n "$player_pid" ] && kill -INT "$player_pid" 2>/dev/null || true
}
trap stop_player INT TERM

# --- the server: icecast2 in a session of its own, so Ctrl-C leaves it to us
port="$(bash "$here/test-peers.sh" port)"
setsid bash "$here/test-peers.sh" icecast "$work/icecast" "$port" </dev/null >/dev/null 2>&1 &
ice_pid=$!
for _ in $(seq 1 100); do
  curl -sf -m 2 -u admin:hackme-admin "http://127.0.0.1:$port/admin/stats" 2>/dev/null | grep -q '<icestats>' && break
  kill -0 "$ice_pid" 2>/dev/null || { echo "demo: icecast2 did not start" >&2; exit 1; }
  sleep 0.1
done

# --- the settings: two streams to that server
mkdir -p "$work/profile"
stream_group() { # NAME MOUNT ENCODER PARAMS FORMAT ENCODER_NAME
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
      <encoder_name>$6</encoder_name><bitrate>128</bitrate>
    </encoder>
  </stream>
EOF
}
{
  echo '<velmora version="1.4.1">'
  echo '  <common><title_format>%artist% - %title%</title_format><auto_update_metadata>1</auto_update_metadata><auto_reconnect>1</auto_reconnect></common>'
  stream_group "Velmora MP3" /velmora.mp3 lame \
    "-r -s 44.1 --bitwidth 16 --signed --little-endian -m j -b 128 --flush --quiet - -" 0 LAME
  stream_group "Velmora Vorbis" /velmora.ogg oggenc \
    '-Q -r -B 16 -C 2 -R 44100 --raw-endianness 0 --managed -b 128 -m 128 -M 128 -a "%artist%" -t "%title%" -o - -' 4 "Ogg Vorbis"
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

echo "demo: icecast2 on 127.0.0.1:$port; streaming for $seconds s (Ctrl-C stops earlier)"
# The player's output, with its statistics folded into one progress line.
show() {
  # Ctrl-C is the player's to handle; its last lines still come through here.
  trap '' INT TERM
  local line rest name secs bytes title="" mp3=0 ogg=0 last_shown=-5 elapsed=0 urls=0
  local tty=0
  [ -t 1 ] && tty=1
  while IFS= read -r line; do
    case "$line" in
      "console: velmora: Statistics: "*)
        rest="${line#console: velmora: Statistics: }"
        name="${rest%%: *}"; rest="${rest#*: }"
        secs="${rest%% s,*}"; bytes="${rest#*s, }"; bytes="${bytes%% bytes sent*}"
        case "$name" in *MP3*) mp3=$bytes ;; *) ogg=$bytes ;; esac
        elapsed=$secs
        if [ "$tty" = 1 ]; then
          printf '\r\033[K[%3d s] MP3 %d KB, Vorbis %d KB sent | %s' "$elapsed" $((mp3 / 1024)) $((ogg / 1024)) "$title"
        elif [ $((elapsed - last_shown)) -ge 5 ]; then
          printf '[%3d s] MP3 %d KB, Vorbis %d KB sent | %s\n' "$elapsed" $((mp3 / 1024)) $((ogg / 1024)) "$title"
          last_shown=$elapsed
        fi
        ;;
      "track: "*) title="${line#track: }" ;;
      "console: velmora: Listen URL: "*)
        [ "$tty" = 1 ] && printf '\r\033[K'
        rest="${line#console: velmora: Listen URL: }"
        echo "demo: listen to ${rest%%: *} at ${rest#*: }"
        urls=$((urls + 1))
        [ "$urls" = 2 ] && echo "demo: the server's status page: http://127.0.0.1:$port/status.xsl"
        ;;
      "console: velmora: Streaming "*|"console: velmora: Error: "*|"console: velmora: Reconnect"*|"end of list"|"stopped by a signal")
        [ "$tty" = 1 ] && printf '\r\033[K'
        echo "$line"
        ;;
    esac
  done
  [ "$tty" = 1 ] && echo
  return 0
}
mkfifo "$work/output"
show <"$work/output" &
show_pid=$!
"$BUILD/bin/kestrune" --profile "$work/profile" --seconds "$seconds" "${tracks[@]}" >"$work/output" 2>&1 &
player_pid=$!
# A signal ends a wait early (the trap runs): wait again for the player's
# own end and status.
status=0
while :; do
  if wait "$player_pid"; then status=0; else status=$?; fi
  kill -0 "$player_pid" 2>/dev/null || break
done
player_pid=""
wait "$show_pid" 2>/dev/null || true
echo "demo: done (the player ended with status $status)"
# Ended by Ctrl-C: the status a shell user expects.
[ "$interrupted" = 1 ] && exit 130
exit "$status"
