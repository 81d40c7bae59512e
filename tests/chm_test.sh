#!/bin/sh
# Compiles projects into .chm books with the real compiler (chmcmd) and converts them back with
# the real qhelpgenerator (tests/chm_check.py), then the hostile set. Skipped (status 77) where
# chmcmd, qhelpgenerator or Python is missing, or this build reads no .chm.
set -u
qhp_bin=$1
root=$2
generator=$(sh "$root/tests/find_qhelpgenerator.sh")
chmcmd=$(command -v chmcmd-3.2.2 || command -v chmcmd || true)
if [ -z "$generator" ] || [ -z "$chmcmd" ] || ! command -v python3 >/dev/null; then
  echo "skipped: needs qhelpgenerator (qt6-documentation-tools), chmcmd (fp-utils-3.2.2), python3"
  exit 77
fi
sh "$root/tests/reads_chm.sh" "$qhp_bin" || exit 77
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export HOME="$work" XDG_RUNTIME_DIR="$work" QT_QPA_PLATFORM=offscreen
python3 "$root/tests/chm_check.py" "$qhp_bin" "$generator" "$chmcmd" "$root" "$work/check"
