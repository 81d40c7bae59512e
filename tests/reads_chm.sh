#!/bin/sh
# Status 0 where sitemap-to-qhp ($1) reads .chm books; else a line for the skipped test, and 1.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
: >"$work/empty.chm"
if (cd "$work" && "$1" empty.chm 2>&1) | grep -q libmspack; then
  echo "skipped: this sitemap-to-qhp was built without libmspack"
  exit 1
fi
exit 0
