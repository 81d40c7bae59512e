#!/bin/sh
# Books no compiler writes, built or patched byte by byte (tests/chm_hostile_check.py); with
# chmcmd, compiled books patched too. Skipped (status 77) without Python, or where this build
# reads no .chm.
set -u
qhp_bin=$1
root=$2
if ! command -v python3 >/dev/null; then
  echo "skipped: needs python3"
  exit 77
fi
sh "$root/tests/reads_chm.sh" "$qhp_bin" || exit 77
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
chmcmd=$(command -v chmcmd-3.2.2 || command -v chmcmd || true)
python3 "$root/tests/chm_hostile_check.py" "$qhp_bin" "$work/check" ${chmcmd:+"$root" "$chmcmd"}
