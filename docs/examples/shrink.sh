#!/bin/sh
# shrink.sh SOURCE OUTPUT COMMAND [SOURCE OUTPUT COMMAND]...
# Runs the records of a plan (vardune --plan) given as arguments, three to a record, one file
# after the other, as GNU parallel -N hands them out (-N30: ten files to a job, one login).
# Names each source that failed on standard error and exits 1 when any did, so that whoever
# runs it (parallel's --halt, a scheduler, a script's &&) sees the failure.
status=0
while [ "$#" -ge 3 ]; do
  sh -c "$3" </dev/null >/dev/null || { printf 'failed: %s\n' "$1" >&2; status=1; }
  shift 3
done
[ "$#" -eq 0 ] || { echo "shrink.sh: a record cut short" >&2; status=1; }
exit "$status"
