#!/usr/bin/env bash
# Builds the native release and runs every benchmark (bench/*.cpp), one
# after the other, each with the private test peers (icecast2 and the
# others, on loopback) that scripts/test-peers.sh starts and stops.
# Benchmarks print their measures and targets; they are never part of the
# tests.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
root="$(dirname "$here")"
dir="${VELMORA_BENCH_BUILD_DIR:-$root/build/bench}"
bash "$here/setup.sh" >/dev/null
cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$dir" -j "${VELMORA_JOBS:-$(nproc)}"
status=0
for program in "$dir"/bin/bench_*; do
  [ -x "$program" ] || continue
  echo "===== $(basename "$program")"
  bash "$here/test-peers.sh" run "$program" || status=1
done
exit $status
