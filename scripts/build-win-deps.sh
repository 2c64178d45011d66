#!/usr/bin/env bash
# Cross-builds the Windows (i686 mingw-w64) dependencies from Debian's own
# sources into a versioned cache outside the clone. Rebuilds only what is
# missing. Needs the packages installed by scripts/setup.sh.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
root="$(dirname "$here")"
DEPS="${VELMORA_WIN_DEPS:-/var/cache/velmora/win32-deps-v1}"
PREFIX="$DEPS/prefix"
JOBS="$(nproc)"
TOOLCHAIN="$root/cmake/mingw32.cmake"
mkdir -p "$DEPS/src" "$PREFIX"

# --- Poco (Foundation, Net, Util, XML, JSON) ---------------------------------
# (The marker's name changes whenever the patches below change.)
if [ ! -f "$DEPS/.poco-r3-done" ]; then
  echo "== cross-building Poco into $PREFIX"
  cd "$DEPS/src"
  rm -rf poco-* poco_*
  apt-get source -q poco 2>&1 | grep -v '^W: Download is performed unsandboxed' || true
  src=$(ls -d "$DEPS"/src/poco-*/ | head -n1)
  # wincrypt.h defines TIMESTAMP_REQUEST, which clashes with the ICMP enum.
  impl="$src/Net/include/Poco/Net/ICMPv4PacketImpl.h"
  grep -q 'undef TIMESTAMP_REQUEST' "$impl" || \
    sed -i '0,/#include "Poco\/Net\/Socket.h"/s//#include "Poco\/Net\/Socket.h"\n#ifdef TIMESTAMP_REQUEST\n#undef TIMESTAMP_REQUEST\n#endif/' "$impl"
  grep -q 'undef TIMESTAMP_REQUEST' "$impl"
  # Expat's internal functions must have one calling convention in every
  # file: xmlparse.cpp sees <windows.h>, whose FASTCALL is __fastcall, while
  # xmltok.c does not. The mismatch garbles character references (&#xE9;).
  internal="$src/XML/src/internal.h"
  grep -q 'velmora: one calling convention' "$internal" || \
    sed -i 's|^/\* Make sure all of these are defined if they aren.t already. \*/|/* velmora: one calling convention */\n#if defined(__MINGW32__)\n#  undef FASTCALL\n#  undef PTRFASTCALL\n#endif\n\n&|' "$internal"
  grep -q 'velmora: one calling convention' "$internal"
  # Poco includes some Windows headers with their MSVC spelling.
  mkdir -p "$DEPS/compat-include"
  echo '#include <winsock2.h>' >"$DEPS/compat-include/Winsock2.h"
  echo '#include <iphlpapi.h>' >"$DEPS/compat-include/Iphlpapi.h"
  # No sockets started from static constructors: in velmora.dll they would
  # run inside the system's loader lock. The component starts them itself
  # on first use.
  nolibinit="-DPOCO_NO_AUTOMATIC_LIB_INIT"
  rm -rf "$DEPS/build-poco"
  cmake -S "$src" -B "$DEPS/build-poco" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$TOOLCHAIN" -DVELMORA_WIN_DEPS="$DEPS" \
    -DCMAKE_MC_COMPILER=/usr/bin/i686-w64-mingw32-windmc \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$PREFIX" \
    -DCMAKE_CXX_FLAGS="-I$DEPS/compat-include $nolibinit" -DCMAKE_C_FLAGS="-I$DEPS/compat-include $nolibinit" \
    -DBUILD_SHARED_LIBS=OFF -DPOCO_STATIC=ON -DPOCO_UNBUNDLED=OFF -DENABLE_TESTS=OFF \
    -DENABLE_FOUNDATION=ON -DENABLE_NET=ON -DENABLE_UTIL=ON -DENABLE_XML=ON -DENABLE_JSON=ON \
    -DENABLE_ENCODINGS=OFF -DENABLE_MONGODB=OFF -DENABLE_DATA=OFF -DENABLE_DATA_SQLITE=OFF \
    -DENABLE_DATA_MYSQL=OFF -DENABLE_DATA_POSTGRESQL=OFF -DENABLE_DATA_ODBC=OFF \
    -DENABLE_REDIS=OFF -DENABLE_ZIP=OFF -DENABLE_PAGECOMPILER=OFF -DENABLE_PAGECOMPILER_FILE2PAGE=OFF \
    -DENABLE_ACTIVERECORD=OFF -DENABLE_ACTIVERECORD_COMPILER=OFF -DENABLE_CRYPTO=OFF \
    -DENABLE_NETSSL=OFF -DENABLE_NETSSL_WIN=OFF -DENABLE_JWT=OFF -DENABLE_APACHECONNECTOR=OFF \
    -DENABLE_CPPPARSER=OFF -DENABLE_POCODOC=OFF -DENABLE_PROMETHEUS=OFF
  cmake --build "$DEPS/build-poco" -j "$JOBS"
  cmake --install "$DEPS/build-poco"
  cp "$DEPS"/compat-include/*.h "$PREFIX/include/"
  touch "$DEPS/.poco-r3-done"
fi

# --- GoogleTest ----------------------------------------------------------------
if [ ! -f "$DEPS/.gtest-done" ]; then
  echo "== cross-building GoogleTest into $PREFIX"
  rm -rf "$DEPS/build-gtest"
  cmake -S /usr/src/googletest -B "$DEPS/build-gtest" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$TOOLCHAIN" -DVELMORA_WIN_DEPS="$DEPS" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$PREFIX" \
    -DBUILD_SHARED_LIBS=OFF -Dgtest_disable_pthreads=OFF
  cmake --build "$DEPS/build-gtest" -j "$JOBS"
  cmake --install "$DEPS/build-gtest"
  touch "$DEPS/.gtest-done"
fi

# --- soxr (the stand-in player's resampler) ------------------------------------
if [ ! -f "$DEPS/.soxr-done" ]; then
  echo "== cross-building soxr into $PREFIX"
  cd "$DEPS/src"
  rm -rf libsoxr-* libsoxr_*
  apt-get source -q libsoxr 2>&1 | grep -v '^W: Download is performed unsandboxed' || true
  src=$(ls -d "$DEPS"/src/libsoxr-*/ | head -n1)
  rm -rf "$DEPS/build-soxr"
  cmake -S "$src" -B "$DEPS/build-soxr" -G Ninja -Wno-dev \
    -DCMAKE_TOOLCHAIN_FILE="$TOOLCHAIN" -DVELMORA_WIN_DEPS="$DEPS" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$PREFIX" \
    -DBUILD_SHARED_LIBS=OFF -DBUILD_TESTS=OFF -DBUILD_EXAMPLES=OFF \
    -DWITH_OPENMP=OFF -DWITH_LSR_BINDINGS=OFF
  cmake --build "$DEPS/build-soxr" -j "$JOBS"
  cmake --install "$DEPS/build-soxr"
  touch "$DEPS/.soxr-done"
fi

# --- lame (a real Windows encoder for the tests under Wine) ---------------------
if [ ! -f "$DEPS/.lame-done" ]; then
  echo "== cross-building lame.exe into $PREFIX/bin"
  cd "$DEPS/src"
  rm -rf lame-* lame_*
  apt-get source -q lame 2>&1 | grep -v '^W: Download is performed unsandboxed' || true
  src=$(ls -d "$DEPS"/src/lame-*/ | head -n1)
  cd "$src"
  # Static, so that it runs without the GCC runtime DLLs beside it.
  log="$DEPS/build-lame.log"
  { ./configure --host=i686-w64-mingw32 --disable-shared --enable-static --disable-gtktest \
      --disable-decoder CC=i686-w64-mingw32-gcc-posix LDFLAGS=-static && make -j "$JOBS"; } >"$log" 2>&1 \
    || { tail -n 40 "$log"; exit 1; }
  mkdir -p "$PREFIX/bin"
  install -m 0755 frontend/lame.exe "$PREFIX/bin/lame.exe"
  touch "$DEPS/.lame-done"
fi

echo "== Windows dependencies ready in $PREFIX"
