#!/bin/sh
# The README's commands that need only the build and the example, and the links of the README
# and docs/ (tests/readme_check.py). Skipped (status 77) without Python or qhelpgenerator,
# which the blocks' --qch runs.
set -u
root=$1
build=$2
if ! command -v python3 >/dev/null || [ -z "$(sh "$root/tests/find_qhelpgenerator.sh")" ]; then
  echo "skipped: needs python3 and qhelpgenerator (qt6-documentation-tools)"
  exit 77
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export HOME="$work" XDG_RUNTIME_DIR="$work" QT_QPA_PLATFORM=offscreen
QHELPGENERATOR=$(sh "$root/tests/find_qhelpgenerator.sh") python3 "$root/tests/readme_check.py" \
  "$root" "$build" "$work"
