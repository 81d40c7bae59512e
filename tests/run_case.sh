#!/bin/sh
# Runs a program in a scratch copy of one case folder and compares what it produced with the
# case's expected.* files: expected.stdout, expected.stderr and expected.status always, and the
# expected output file (expected.dcf or expected.qhp, after the output's ending) when the run
# must leave one; without it, none may exist afterwards, nor any temporary file beside it.
# The program runs with the arguments in the case's file `args` (shell words), if any; the
# output is OUTPUT (default qt-assistant.dcf, whose program gets arguments it must ignore), or
# the name in the case's file `output`.
# An executable file named setup in the case folder runs in the scratch folder first, for what
# git cannot hold (links, special files, files in other code pages). A file named check runs
# there after the program, and what it prints must equal expected.check (the files a project
# conversion wrote, say). A file named ulimit holds the options of a ulimit
# command that limits the program's run (open files, file size).
# usage: run_case.sh PROGRAM CASE_DIR [OUTPUT]
set -u
bin=$1
case_dir=$2
output=${3:-qt-assistant.dcf}
[ -f "$case_dir/output" ] && output=$(cat "$case_dir/output")
expected_output=$case_dir/expected.${output##*.}
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir "$scratch/run"
cp -R "$case_dir/." "$scratch/run/"
rm -f "$scratch/run"/expected.* "$scratch/run/setup" "$scratch/run/args" "$scratch/run/output" \
  "$scratch/run/ulimit" "$scratch/run/check"
if [ -f "$case_dir/setup" ]; then
  (cd "$scratch/run" && sh "$case_dir/setup") || { echo "setup failed"; exit 1; }
fi

if [ -f "$case_dir/args" ]; then
  eval "set -- $(cat "$case_dir/args")"
elif [ "$output" = qt-assistant.dcf ]; then
  set -- ignored arguments  # sitemap-to-dcf takes none and must ignore them
else
  set --
fi
limits=
[ -f "$case_dir/ulimit" ] && limits=$(cat "$case_dir/ulimit")
# A run under a file size limit cannot write a coverage profile whole, and one cut short would
# spoil the profile it shares with every other run: it writes none.
case "$limits" in *-f*) [ -n "${LLVM_PROFILE_FILE:-}" ] && export LLVM_PROFILE_FILE=/dev/null ;; esac
(cd "$scratch/run" && ulimit ${limits:--c 0} && trap "" XFSZ && exec "$bin" "$@" >"$scratch/stdout" 2>"$scratch/stderr")
echo $? >"$scratch/status"

if [ -f "$case_dir/check" ]; then
  (cd "$scratch/run" && sh "$case_dir/check") >"$scratch/check" 2>&1
fi

failed=0
for part in stdout stderr status check; do
  [ "$part" = check ] && [ ! -f "$case_dir/check" ] && continue
  if ! cmp -s "$case_dir/expected.$part" "$scratch/$part"; then
    echo "--- $part differs (expected, then actual):"
    head -c 2000 "$case_dir/expected.$part"; echo '|'
    head -c 2000 "$scratch/$part"; echo '|'
    failed=1
  fi
done
if [ -f "$expected_output" ]; then
  if ! cmp -s "$expected_output" "$scratch/run/$output"; then
    echo "--- $output differs:"
    diff "$expected_output" "$scratch/run/$output" | head -n 40
    failed=1
  fi
elif [ -f "$scratch/run/$output" ] && [ ! -h "$scratch/run/$output" ]; then
  echo "--- $output exists but the case expects none"
  failed=1
fi
for left in "$scratch/run/$(dirname "$output")/.$(basename "$output")".*; do
  [ -e "$left" ] && { echo "--- a temporary file was left: $left"; failed=1; }
done
exit $failed
