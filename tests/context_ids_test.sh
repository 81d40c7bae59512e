#!/bin/sh
# Context ids through sitemap-to-qhp --qch and Qt's help engine (tests/context_ids_check.py).
# Skipped (status 77) where qhelpgenerator or Python is missing, or this build reads no .chm.
# usage: context_ids_test.sh QHP_BIN HELP_IDS ROOT
set -u
qhp_bin=$1
help_ids=$2
root=$3
generator=$(sh "$root/tests/find_qhelpgenerator.sh")
if [ -z "$generator" ] || ! command -v python3 >/dev/null; then
  echo "skipped: needs qhelpgenerator (qt6-documentation-tools) and python3"
  exit 77
fi
sh "$root/tests/reads_chm.sh" "$qhp_bin" || exit 77
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export HOME="$work" XDG_RUNTIME_DIR="$work" QT_QPA_PLATFORM=offscreen
books=$(cd "$root/.." && pwd)/shared/books
python3 "$root/tests/context_ids_check.py" "$qhp_bin" "$help_ids" "$generator" "$root" "$books" \
  "$work"
