#!/usr/bin/env bash
# Test peers on loopback: icecast2, microsocks (open and with a password),
# danted and a decoding peer (ffprobe and ffmpeg behind HTTP, see
# probe-peer.py), each on a free port of 127.0.0.1 (icecast2 takes SHOUTcast
# v1 sources for its mount /shoutcast on the port after its own).
#
#   test-peers.sh icecast DIR PORT       config in DIR, then runs icecast2 until
#                                        ended (keeps its replies flowing)
#   test-peers.sh microsocks PORT [U P]  becomes microsocks (U/P: demand auth)
#   test-peers.sh danted DIR PORT        config in DIR, then becomes danted
#   test-peers.sh port                   prints a free port of 127.0.0.1
#   test-peers.sh probe PORT             becomes the decoding peer
#   test-peers.sh run PROGRAM [ARGS...]  starts every peer, runs PROGRAM with
#                                        their ports in VELMORA_PEER_* and
#                                        stops the peers by PID afterwards;
#                                        a *.exe PROGRAM runs under Wine
#
# Native tests start single peers through the first forms; the Windows
# tests, which run under Wine and cannot start Linux programs, get theirs
# through "run".
set -u
here="$(cd "$(dirname "$0")" && pwd)"

# Fixed test credentials; tests/support/peers.h holds the same values.
ICECAST_SOURCE_PASSWORD="hackme-source"
ICECAST_ADMIN_USER="admin"
ICECAST_ADMIN_PASSWORD="hackme-admin"
SOCKS_USER="velmora"
SOCKS_PASSWORD="socks-secret"

# Mount /credN takes credentials "source:<password>" of N bytes in all.
cred_password() { # N
  local n=$(( $1 - 7 )) s=""
  while [ ${#s} -lt "$n" ]; do s="${s}0123456789abcdefghijklmnopqrstuvwxyz"; done
  printf '%s' "${s:0:$n}"
}

write_icecast_config() { # DIR PORT
  local dir="$1" port="$2" owner=""
  mkdir -p "$dir/log"
  if [ "$(id -u)" = 0 ]; then
    owner="<changeowner><user>nobody</user><group>nogroup</group></changeowner>"
    chown -R nobody:nogroup "$dir/log" 2>/dev/null || chmod 777 "$dir/log"
  fi
  local mounts="" n
  for n in 53 54 60; do
    mounts="$mounts<mount><mount-name>/cred$n</mount-name><password>$(cred_password $n)</password></mount>"
  done
  cat >"$dir/icecast.xml" <<EOF
<icecast>
  <location>loopback</location>
  <admin>test@localhost</admin>
  <limits>
    <clients>100</clients><sources>50</sources>
    <queue-size>524288</queue-size><client-timeout>30</client-timeout>
    <header-timeout>15</header-timeout><source-timeout>10</source-timeout>
    <burst-on-connect>1</burst-on-connect><burst-size>65535</burst-size>
  </limits>
  <authentication>
    <source-password>$ICECAST_SOURCE_PASSWORD</source-password>
    <relay-password>$ICECAST_SOURCE_PASSWORD</relay-password>
    <admin-user>$ICECAST_ADMIN_USER</admin-user>
    <admin-password>$ICECAST_ADMIN_PASSWORD</admin-password>
  </authentication>
  <hostname>127.0.0.1</hostname>
  <listen-socket><port>$port</port><bind-address>127.0.0.1</bind-address><shoutcast-mount>/shoutcast</shoutcast-mount></listen-socket>
  $mounts
  <fileserve>1</fileserve>
  <paths>
    <basedir>$dir</basedir>
    <logdir>$dir/log</logdir>
    <webroot>/usr/share/icecast2/web</webroot>
    <adminroot>/usr/share/icecast2/admin</adminroot>
  </paths>
  <logging>
    <accesslog>access.log</accesslog><errorlog>error.log</errorlog><loglevel>3</loglevel>
  </logging>
  <security><chroot>0</chroot>$owner</security>
</icecast>
EOF
}

write_danted_config() { # DIR PORT
  local dir="$1" port="$2"
  mkdir -p "$dir"
  cat >"$dir/danted.conf" <<EOF
logoutput: $dir/danted.log
internal: 127.0.0.1 port = $port
external: 127.0.0.1
socksmethod: none
clientmethod: none
user.privileged: root
user.unprivileged: nobody
client pass { from: 127.0.0.0/8 to: 0.0.0.0/0 }
socks pass { from: 127.0.0.0/8 to: 127.0.0.0/8 command: connect }
socks block { from: 0.0.0.0/0 to: 0.0.0.0/0 }
EOF
}

port_open() { # PORT: true when something accepts on 127.0.0.1:PORT
  (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null
}

port_free() { # PORT: nothing listens on it or uses it now
  ! port_open "$1" && ! ss -Htan "sport = :$1" 2>/dev/null | grep -q .
}

free_port() { # a port on which nothing listens now, nor on the next one
  local p i
  for i in $(seq 1 200); do
    # below the ephemeral range (32768 and up): no outgoing connection takes it
    p=$(( 20000 + RANDOM % 12767 ))
    if port_free "$p" && port_free $((p + 1)); then
      echo "$p"; return 0
    fi
  done
  return 1
}

ready() { # KIND PORT: icecast answers a request (so it is ours and up)
  [ "$1" = icecast ] || return 0
  local i
  for i in $(seq 1 100); do
    curl -sf -m 2 -u "$ICECAST_ADMIN_USER:$ICECAST_ADMIN_PASSWORD" "http://127.0.0.1:$2/admin/stats" 2>/dev/null \
      | grep -q '<icestats>' && return 0
    sleep 0.1
  done
  return 1
}

wait_port() { # PORT PID: waits up to 10 s for the peer to accept
  local i
  for i in $(seq 1 100); do
    port_open "$1" && return 0
    kill -0 "$2" 2>/dev/null || return 1
    sleep 0.1
  done
  return 1
}

case "${1:-}" in
  icecast)
    write_icecast_config "$2" "$3"
    # icecast2 sends its replies (admin pages, a source's go-ahead) from a
    # thread that ends once it has nothing left to send; a reply queued
    # while that thread is ending waits for the next request that needs
    # it, forever if none comes. A request every second bounds that wait.
    icecast2 -c "$2/icecast.xml" >"$2/icecast.out" 2>&1 &
    ice=$!
    trap 'kill "$!" "$ice" 2>/dev/null; wait "$ice"; exit' TERM INT HUP
    while kill -0 "$ice" 2>/dev/null; do
      sleep 1 &
      wait $!
      curl -s -o /dev/null -m 2 -u "$ICECAST_ADMIN_USER:$ICECAST_ADMIN_PASSWORD" \
        "http://127.0.0.1:$3/admin/stats" 2>/dev/null &
      wait $!
    done
    wait "$ice"
    ;;
  microsocks)
    # It logs every connection on standard output.
    if [ $# -ge 4 ]; then exec microsocks -i 127.0.0.1 -p "$2" -u "$3" -P "$4" >/dev/null 2>&1; fi
    exec microsocks -i 127.0.0.1 -p "$2" >/dev/null 2>&1
    ;;
  port)
    free_port
    ;;
  danted)
    write_danted_config "$2" "$3"
    exec danted -f "$2/danted.conf" -p "$2/danted.pid" >"$2/danted.out" 2>&1
    ;;
  probe)
    exec python3 "$here/probe-peer.py" "$2"
    ;;
  run)
    shift
    work="$(mktemp -d /tmp/velmora-peers.XXXXXX)"
    chmod 755 "$work"
    pids=()
    stop_peers() {
      local p
      for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done
      for p in "${pids[@]}"; do wait "$p" 2>/dev/null; done
      rm -rf "$work"
    }
    trap stop_peers EXIT
    start_peer() { # VAR ARGS...: starts "$0 ARGS", exports VAR=port
      # A peer that ends before it is ready is started again on another
      # port (another program may have taken the port meanwhile, and
      # icecast2 has been seen to die on its very first request).
      local var="$1" port attempt pid
      shift
      for attempt in 1 2 3; do
        port=$(free_port) || { echo "test-peers: no free port" >&2; return 1; }
        local args=("$@")
        args=("${args[@]//@PORT@/$port}")
        bash "$0" "${args[@]}" >"$work/$var.out" 2>&1 &
        pid=$!
        pids+=("$pid")
        if wait_port "$port" "$pid" && ready "${args[0]}" "$port" && kill -0 "$pid" 2>/dev/null; then
          export "$var=$port"
          return 0
        fi
        kill "$pid" 2>/dev/null
        wait "$pid" 2>/dev/null
        unset 'pids[-1]'
      done
      echo "test-peers: ${args[0]} did not start:" >&2
      cat "$work/$var.out" >&2
    }
    command -v icecast2 >/dev/null && start_peer VELMORA_PEER_ICECAST_PORT icecast "$work/icecast" @PORT@
    command -v microsocks >/dev/null && start_peer VELMORA_PEER_MICROSOCKS_PORT microsocks @PORT@
    command -v microsocks >/dev/null && start_peer VELMORA_PEER_MICROSOCKS_AUTH_PORT microsocks @PORT@ "$SOCKS_USER" "$SOCKS_PASSWORD"
    command -v danted >/dev/null && start_peer VELMORA_PEER_DANTED_PORT danted "$work/danted" @PORT@
    command -v ffprobe >/dev/null && start_peer VELMORA_PEER_PROBE_PORT probe @PORT@
    export VELMORA_PEERS_FROM_WRAPPER=1
    case "$1" in
      *.exe) "$here/wine-run.sh" "$@" ;;
      *) "$@" ;;
    esac
    exit $?
    ;;
  *)
    sed -n '2,20p' "$0" >&2
    exit 2
    ;;
esac
