#!/bin/sh
# Builds the .qhp of the bundled example and of a generated project of 2,000 pages into .qch
# files with the real qhelpgenerator, and checks that each holds the DCF's contents tree and
# keywords (tests/qch_check.py); and the generated windows-1251 and GBK project cases, whose
# .qch must hold their titles in Unicode and their pages in UTF-8 (tests/project_qch_check.py).
# Skipped (status 77) where qhelpgenerator or Python is missing.
set -u
dcf_bin=$1
qhp_bin=$2
root=$3
generator=$(sh "$root/tests/find_qhelpgenerator.sh")
if [ -z "$generator" ] || ! command -v python3 >/dev/null; then
  echo "skipped: needs qhelpgenerator (qt6-documentation-tools) and python3"
  exit 77
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export HOME="$work" XDG_RUNTIME_DIR="$work" QT_QPA_PLATFORM=offscreen
python3 "$root/bench/generate_project.py" 2000 "$work/generated" --seed 7 >/dev/null || exit 1
failed=0
for project in "$root/examples/handbook" "$work/generated"; do
  python3 "$root/tests/qch_check.py" "$dcf_bin" "$qhp_bin" "$generator" "$project" \
    "$work/check" || failed=1
done
python3 "$root/tests/project_qch_check.py" "$qhp_bin" "$generator" "$root/tests/qhp_cases" \
  "$work" || failed=1
exit $failed
