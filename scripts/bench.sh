#!/usr/bin/env bash
# Builds the native release and runs every benchmark (bench/*.cpp), one
# after the other. Benchmarks print their measures and targets; they are
# never part of the tests.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
dir="${VELMORA_BENCH_BUILD_DIR:-$root/build/bench}"
cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$dir" -j "${VELMORA_JOBS:-$(nproc)}"
status=0
for program in "$dir"/bin/bench_*; do
  [ -x "$program" ] || continue
  echo "===== $(basename "$program")"
  "$program" || status=1
done
exit $status
