#!/bin/sh
# Runs sitemap-to-dcf in a scratch copy of one case folder and compares what it produced with the
# case's expected.* files: expected.stdout, expected.stderr and expected.status always, and
# expected.dcf when the run must leave a DCF file (without it, none may exist afterwards).
# An executable file named setup in the case folder runs in the scratch folder first, for what
# git cannot hold (links, special files).
set -u
bin=$1
case_dir=$2
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir "$scratch/run"
cp -R "$case_dir/." "$scratch/run/"
rm -f "$scratch/run"/expected.* "$scratch/run/setup"
if [ -f "$case_dir/setup" ]; then
  (cd "$scratch/run" && sh "$case_dir/setup") || { echo "setup failed"; exit 1; }
fi

(cd "$scratch/run" && exec "$bin" ignored arguments >"$scratch/stdout" 2>"$scratch/stderr")
echo $? >"$scratch/status"

failed=0
for part in stdout stderr status; do
  if ! cmp -s "$case_dir/expected.$part" "$scratch/$part"; then
    echo "--- $part differs (expected, then actual):"
    head -c 2000 "$case_dir/expected.$part"; echo '|'
    head -c 2000 "$scratch/$part"; echo '|'
    failed=1
  fi
done
if [ -f "$case_dir/expected.dcf" ]; then
  if ! cmp -s "$case_dir/expected.dcf" "$scratch/run/qt-assistant.dcf"; then
    echo "--- qt-assistant.dcf differs:"
    diff "$case_dir/expected.dcf" "$scratch/run/qt-assistant.dcf" | head -n 40
    failed=1
  fi
elif [ -f "$scratch/run/qt-assistant.dcf" ] && [ ! -h "$scratch/run/qt-assistant.dcf" ]; then
  echo "--- qt-assistant.dcf exists but the case expects none"
  failed=1
fi
exit $failed
