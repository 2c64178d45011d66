#!/usr/bin/env bash
# Idempotent machine set-up: Debian packages (native build, Windows cross
# toolchain, Wine, peers and encoders) and the cross-built Windows
# dependencies, cached outside the clone.
#
#   setup.sh              everything the builds and tests need
#   setup.sh --linux-demo only what the Linux demo needs (native build,
#                         icecast2, lame, oggenc): no Wine, no cross build
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"

mode=all
case "${1:-}" in
  "") ;;
  --linux-demo) mode=linux-demo ;;
  *) echo "setup: unknown argument $1" >&2; exit 2 ;;
esac

if [ "$mode" = linux-demo ]; then
  PACKAGES=(
    build-essential cmake ninja-build pkg-config
    libpoco-dev libsoxr-dev
    icecast2 lame vorbis-tools curl procps
  )
else
  PACKAGES=(
    build-essential cmake ninja-build pkg-config dpkg-dev
    libpoco-dev libgtest-dev libgmock-dev googletest libsoxr-dev
    g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix binutils-mingw-w64-i686 mingw-w64-tools
    # fonts-wine: Wine's own fonts (Tahoma for the dialogs), which Wine
    # only recommends and the installation below leaves out otherwise;
    # fonts-ipafont-gothic: Japanese glyphs, which Tahoma lacks (see
    # wine-prefix.sh).
    wine wine32:i386 fonts-wine fonts-ipafont-gothic xvfb xauth x11-apps imagemagick
    icecast2 microsocks dante-server
    lame vorbis-tools flac opus-tools ffmpeg ezstream
    curl python3 procps
  )
fi

need_install=0
if [ "$mode" = all ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
  need_install=1
fi

# Source entries for 'apt-get source', derived from the binary ones.
src_list=/etc/apt/sources.list.d/velmora-deb-src.sources
if [ "$mode" = all ] && [ ! -f "$src_list" ]; then
  tmp=$(mktemp)
  for f in /etc/apt/sources.list.d/*.sources; do
    [ -f "$f" ] || continue
    case "$f" in *velmora*) continue ;; esac
    # keep only stanzas that are plain Debian archives (no extra Architectures limit)
    awk 'BEGIN{RS=""; ORS="\n\n"} /Types:[[:space:]]*deb([[:space:]]|$)/ && !/Architectures:/ {gsub(/Types:[[:space:]]*deb([[:space:]]|$)/,"Types: deb-src\n"); print}' "$f" >>"$tmp"
  done
  if [ -f /etc/apt/sources.list ]; then
    grep -E '^deb[[:space:]]' /etc/apt/sources.list | sed 's/^deb[[:space:]]/deb-src /' >"${src_list%.sources}.list" || true
  fi
  $SUDO install -m 0644 "$tmp" "$src_list"
  rm -f "$tmp"
  need_install=1
fi

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}\n' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ] || [ $need_install -eq 1 ]; then
  echo "setup: installing ${missing[*]:-(package lists only)}"
  # Packages such as icecast2 and danted must not start system services here.
  if [ ! -e /usr/sbin/policy-rc.d ]; then
    printf '#!/bin/sh\nexit 101\n' | $SUDO tee /usr/sbin/policy-rc.d >/dev/null
    $SUDO chmod +x /usr/sbin/policy-rc.d
  fi
  $SUDO apt-get update -q
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}" \
    || DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q "${missing[@]}"
fi

# Cross-built Windows dependencies (Poco, GoogleTest, soxr, lame.exe).
[ "$mode" = all ] || exit 0
"$here/build-win-deps.sh"
