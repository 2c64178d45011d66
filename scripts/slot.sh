# Sourced by runs that must keep to themselves beside others of their kind
# (the demo, the screenshot run): take_slot BASE FD takes the first of
# BASE0, BASE1, ... that no other run holds, by a lock on BASEn.run that
# file descriptor FD holds until the shell ends, and sets slot to n.
# Programs that may outlive the run are not given FD (FD>&-), or the slot
# stays taken.
take_slot() { # BASE FD
  local n=0
  mkdir -p "$(dirname "$1")"
  while :; do
    eval "exec $2>\"\${1}$n.run\""
    flock -n "$2" && break
    n=$((n + 1))
  done
  slot=$n
}
