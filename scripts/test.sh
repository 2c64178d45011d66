#!/usr/bin/env bash
# Builds both targets and runs every test: native Linux, native under
# ASan+UBSan, native under TSan, and the Windows build under Wine. Installs
# what it needs first.
set -uo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
root="$(dirname "$here")"
cd "$root"
JOBS="${VELMORA_JOBS:-$(nproc)}"
BUILD="${VELMORA_BUILD_DIR:-$root/build}"

bash "$here/setup.sh" || { echo "setup failed"; exit 1; }
export CI=true

passed=0
failed=0
skipped=0
status=0
summary=()

run_suite() { # name build-dir cmake-args...
  local name="$1" dir="$2"
  shift 2
  echo "===== $name: configure and build"
  if ! cmake -S "$root" -B "$dir" -G Ninja "$@" >"$dir.configure.log" 2>&1; then
    cat "$dir.configure.log"; echo "===== $name: configure FAILED"; status=1; summary+=("$name: configure failed"); return
  fi
  if ! cmake --build "$dir" -j "$JOBS"; then
    echo "===== $name: build FAILED"; status=1; summary+=("$name: build failed"); return
  fi
  echo "===== $name: tests"
  local log="$dir.ctest.log"
  (cd "$dir" && ctest --output-on-failure -j "$JOBS" --timeout 900) 2>&1 | tee "$log"
  local rc=${PIPESTATUS[0]}
  local line total fails programs_skipped skips skipped_here=0
  line=$(grep -E 'tests passed, [0-9]+ tests failed out of [0-9]+' "$log" | tail -n1)
  # A program whose tests passed but skipped some ends with the skip code,
  # which ctest lists as "(Skipped)" and counts among the passed; each
  # skipped test's own result line ("[  SKIPPED ] Suite.Name (N ms)") is in
  # the full output ctest keeps, for programs that failed too.
  programs_skipped=$(grep -cE '^[[:space:]]*[0-9]+ - .* \(Skipped\)$' "$log")
  skips=$(grep -hE '^\[  SKIPPED \] [^ ]+ \([0-9]+ ms\)$' "$dir/Testing/Temporary/LastTest.log" 2>/dev/null \
    | sed -E 's/^\[  SKIPPED \] ([^ ]+) .*/\1/' | sort -u)
  [ -n "$skips" ] && skipped_here=$(wc -l <<<"$skips")
  if [ -n "$line" ]; then
    total=$(sed -E 's/.*out of ([0-9]+).*/\1/' <<<"$line")
    fails=$(sed -E 's/.*passed, ([0-9]+) tests failed.*/\1/' <<<"$line")
    passed=$((passed + total - fails - programs_skipped)); failed=$((failed + fails))
    skipped=$((skipped + programs_skipped))
  fi
  if [ "$rc" -ne 0 ] || [ -z "$line" ]; then
    status=1; summary+=("$name: FAILED (${line:-no tests ran}); $skipped_here test(s) skipped")
  elif [ "$programs_skipped" -gt 0 ] || [ "$skipped_here" -gt 0 ]; then
    status=1; summary+=("$name: FAILED: $programs_skipped program(s) skipped $skipped_here test(s) ($line)")
  else
    summary+=("$name: $line; 0 tests skipped")
  fi
  if [ -n "$skips" ]; then
    while IFS= read -r test; do summary+=("  skipped: $test"); done <<<"$skips"
  fi
}

mkdir -p "$BUILD"
run_suite linux "$BUILD/linux" -DCMAKE_BUILD_TYPE=RelWithDebInfo
ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1}" UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1}" \
  run_suite linux-asan "$BUILD/linux-asan" -DCMAKE_BUILD_TYPE=Debug -DVELMORA_SANITIZE=ON
TSAN_OPTIONS="${TSAN_OPTIONS:-halt_on_error=1 second_deadlock_stack=1}" \
  run_suite linux-tsan "$BUILD/linux-tsan" -DCMAKE_BUILD_TYPE=Debug -DVELMORA_TSAN=ON
run_suite windows "$BUILD/win32" -DCMAKE_BUILD_TYPE=Release -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw32.cmake"

# End what Wine left running in our prefix (console hosts, services).
WINEPREFIX="${VELMORA_WINEPREFIX:-${XDG_CACHE_HOME:-$HOME/.cache}/velmora/wineprefix}" wineserver -k >/dev/null 2>&1 || true

echo "===== summary"
printf '%s\n' "${summary[@]}"
echo "$passed passed, $failed failed, $skipped skipped"
exit $status
