#!/bin/sh
# Under a small address-space limit, an index whose Local lines are too many to hold ends the
# run with "Error: Out of memory." and status 1, not with an abort: with 64 MB and 16 MB of them.
set -u
bin=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
{
  i=0
  while [ $i -lt 11 ]; do echo "<!-- head -->"; i=$((i + 1)); done
  printf '%s\n' '<LI> <OBJECT TYPE="TEXT/SITEMAP">' '<PARAM NAME="Name" VALUE="A">' \
    '<PARAM NAME="Local" VALUE="a.html">' '</OBJECT>' '</BODY>'
} >Contents.hhc

failed=0
for megabytes in 64 16; do
  yes '<PARAM NAME="Local" VALUE="a.html">' | head -c $((megabytes << 20)) >Index.hhk
  (ulimit -v 48000 && exec "$bin") >stdout 2>stderr
  status=$?
  if [ $status -ne 1 ] || [ "$(cat stderr)" != "Error: Out of memory." ] || [ -s stdout ]; then
    echo "index of $megabytes MB: status $status, stderr: $(head -c 300 stderr)"
    failed=1
  fi
done
exit $failed
