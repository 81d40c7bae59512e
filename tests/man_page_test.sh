#!/bin/sh
# Every man page renders without a single warning.
set -u
failed=0
for page in "$@"; do
  warnings=$(man --warnings -l "$page" 2>&1 >/dev/null)
  [ -z "$warnings" ] || { echo "$page: $warnings"; failed=1; }
done
exit $failed
