#!/bin/sh
# sitemap-to-qhp --open with a stand-in Assistant (tests/open_check.py). Skipped (status 77)
# where qhelpgenerator, Python or its sqlite3 module is missing.
# usage: open_test.sh QHP_BIN ROOT
set -u
qhp_bin=$1
root=$2
generator=$(sh "$root/tests/find_qhelpgenerator.sh")
if [ -z "$generator" ] || ! python3 -c 'import sqlite3' 2>/dev/null; then
  echo "skipped: needs qhelpgenerator (qt6-documentation-tools) and python3 with sqlite3"
  exit 77
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export QT_QPA_PLATFORM=offscreen
python3 "$root/tests/open_check.py" "$qhp_bin" "$generator" "$root" "$work"
