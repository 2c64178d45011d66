#!/usr/bin/env bash
# Runs a test program (or a wrapper that runs it) and judges it by the XML
# report gtest writes once the whole run has finished, not by its exit
# status alone: a program that ends early with status 0 (or with the skip
# code) left no report and has failed.
#
#   gtest-report.sh COMMAND [ARGS...]
#
# COMMAND gets --gtest_output=xml:FILE appended, FILE fresh in a temporary
# folder (as a Windows path when the command runs a *.exe under Wine); a
# *.exe COMMAND itself runs under Wine. Ends with
#   0   the program ended with 0 and its report lists no failure and no
#       skipped test,
#   77  (VELMORA_SKIPPED_EXIT_CODE) it ended with 0 or the skip code and
#       its report lists no failure but some skipped test,
#   the program's own status when it is neither 0 nor 77, else 1: a
#       failure in the report, or a report that is missing, empty or not
#       gtest's.
set -u
here="$(cd "$(dirname "$0")" && pwd)"
skipped_code=77

work="$(mktemp -d "${TMPDIR:-/tmp}/velmora-report.XXXXXX")"
trap 'rm -rf "$work"' EXIT
report="$work/report.xml"
target="$report"
for arg in "$@"; do
  case "$arg" in
    # Wine's drive Z: is the Unix root.
    *.exe) target="Z:${report//\//\\}"; break ;;
  esac
done

case "${1:-}" in
  *.exe) "$here/wine-run.sh" "$@" "--gtest_output=xml:$target" ;;
  *) "$@" "--gtest_output=xml:$target" ;;
esac
status=$?

if [ "$status" -ne 0 ] && [ "$status" -ne "$skipped_code" ]; then
  exit "$status"
fi
verdict="$(python3 - "$report" <<'EOF'
import sys
import xml.etree.ElementTree as ET
try:
    root = ET.parse(sys.argv[1]).getroot()
except FileNotFoundError:
    print("failed: the program left no report (it ended before its run was over)")
    sys.exit()
except ET.ParseError as e:
    print("failed: its report is empty or unreadable (%s)" % e)
    sys.exit()
if root.tag != "testsuites" or "failures" not in root.attrib:
    print("failed: its report is not gtest's (root <%s>)" % root.tag)
    sys.exit()
failed = int(root.get("failures", "0")) + int(root.get("errors", "0"))
failed += len(root.findall(".//failure")) + len(root.findall(".//error"))
skipped = [c for c in root.iter("testcase") if c.get("result") == "skipped"]
if failed:
    print("failed: its report lists failures")
elif skipped:
    print("skipped: %d test(s) skipped" % len(skipped))
else:
    print("passed")
EOF
)"
case "$verdict" in
  passed) [ "$status" -eq 0 ] && exit 0
    verdict="failed: it ended with the skip code, but its report lists no skipped test" ;;
  skipped:*) exit "$skipped_code" ;;
esac
echo "gtest-report: $* (status $status) ${verdict:-failed: its report could not be judged}" >&2
exit 1
