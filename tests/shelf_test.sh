#!/bin/sh
# A shelf of books compiled by chmcmd and the real ones of ../shared/books/
# (tests/shelf_check.py); with qhelpgenerator, the collection file too. Skipped (status 77)
# without chmcmd or Python, or where this build reads no .chm.
set -u
qhp_bin=$1
root=$2
chmcmd=$(command -v chmcmd-3.2.2 || command -v chmcmd || true)
if [ -z "$chmcmd" ] || ! command -v python3 >/dev/null; then
  echo "skipped: needs chmcmd (fp-utils-3.2.2) and python3"
  exit 77
fi
sh "$root/tests/reads_chm.sh" "$qhp_bin" || exit 77
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export HOME="$work" XDG_RUNTIME_DIR="$work" QT_QPA_PLATFORM=offscreen
generator=$(sh "$root/tests/find_qhelpgenerator.sh")
python3 "$root/tests/shelf_check.py" "$qhp_bin" "$root" "$work/check" "$chmcmd" $generator
