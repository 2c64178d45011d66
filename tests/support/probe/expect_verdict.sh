#!/usr/bin/env bash
# Checks the test run's verdict on one run of a test program:
#
#   expect_verdict.sh passed|skipped|failed COMMAND [ARGS...]
#
# runs scripts/gtest-report.sh COMMAND ARGS... and ends with 0 when its
# verdict (0 passed, 77 skipped, anything else failed) is the expected one.
# The program's output is shown only when the verdict is not that: its lines
# of skipped and failed tests would otherwise count in the run's summary.
set -u
here="$(cd "$(dirname "$0")" && pwd)"
expected="$1"
shift
out="$(mktemp "${TMPDIR:-/tmp}/velmora-verdict.XXXXXX")"
trap 'rm -f "$out"' EXIT
bash "$here/../../../scripts/gtest-report.sh" "$@" >"$out" 2>&1
status=$?
case "$status" in
  0) verdict=passed ;;
  77) verdict=skipped ;;
  *) verdict=failed ;;
esac
[ "$verdict" = "$expected" ] && exit 0
cat "$out"
echo "expect_verdict: $* was judged $verdict (status $status), not $expected" >&2
exit 1
