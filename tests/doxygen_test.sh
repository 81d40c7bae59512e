#!/bin/sh
# Doxygen documents the project's own src/ as HTML Help and as Qt Help; sitemap-to-qhp --html
# converts Doxygen's sitemaps, and tests/doxygen_check.py compares the two .qch files built by
# qhelpgenerator. Skipped (status 77) where doxygen, qhelpgenerator or Python is missing.
set -u
qhp_bin=$1
root=$2
generator=$(sh "$root/tests/find_qhelpgenerator.sh")
doxygen=$(command -v doxygen || true)
if [ -z "$generator" ] || [ -z "$doxygen" ] || ! command -v python3 >/dev/null; then
  echo "skipped: needs doxygen, qhelpgenerator (qt6-documentation-tools) and python3"
  exit 77
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export HOME="$work" XDG_RUNTIME_DIR="$work" QT_QPA_PLATFORM=offscreen
python3 "$root/tests/doxygen_check.py" "$qhp_bin" "$generator" "$doxygen" "$root/src" "$work/check"
