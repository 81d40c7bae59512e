#!/bin/sh
# Seeds for fuzz_chm: the example compiled by chmcmd, a generated project large enough for a
# directory of several listing chunks, and the real books of ../shared/books/ where they are.
# usage: make_chm_seeds.sh REPOSITORY_ROOT SEED_DIR
set -eu
root=$1
seeds=$2
chmcmd=$(command -v chmcmd-3.2.2 || command -v chmcmd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$seeds"
cp -R "$root/examples/handbook" "$work/handbook"
(cd "$work/handbook" && "$chmcmd" handbook.hhp >/dev/null 2>&1)
cp "$work/handbook/handbook.chm" "$seeds/"
python3 -c "import sys; sys.path.insert(0, '$root/tests'); import chm_check; \
chm_check.large_project('$work/large', 120)"
(cd "$work/large" && "$chmcmd" large.hhp >/dev/null 2>&1)
cp "$work/large/large.chm" "$seeds/"
for book in "$root/../shared/books/"*.chm; do
  # (A copy of its own, writable: shared/ is read-only on CI.)
  if [ -f "$book" ]; then rm -f "$seeds/${book##*/}" && cat "$book" >"$seeds/${book##*/}"; fi
done
