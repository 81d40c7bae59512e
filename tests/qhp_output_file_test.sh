#!/bin/sh
# What sitemap-to-qhp leaves on disk and on the terminal: the .qhp gets the usual mode of a new
# file under the user's umask (not the 0600 of the file it is written to first); a write that
# fails only at close leaves nothing in place and ends with status 1; and with standard output
# and error going to one file the detail lines come before the error line, as on a terminal.
# usage: qhp_output_file_test.sh SITEMAP_TO_QHP CASES_DIR
set -u
bin=$1
cases=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0
fail() { echo "$1"; failed=1; }
fresh_example() {
  rm -rf "$work/run" && cp -R "$cases/example" "$work/run" && rm -f "$work/run"/expected.*
}

# umask | the mode of the .qhp
while read -r mask mode; do
  fresh_example
  (cd "$work/run" && umask "$mask" && "$bin" >/dev/null 2>&1) || fail "umask $mask: the run failed"
  got=$(stat -c %a "$work/run/qt-assistant.qhp")
  [ "$got" = "$mode" ] || fail "umask $mask: mode $got, expected $mode"
done <<'TABLE'
022 644
027 640
077 600
TABLE

# A file size limit of one block: the .qhp cannot be completed, and nothing takes its place.
fresh_example
# (No coverage profile under the limit: one cut short would spoil the profile runs share.)
(cd "$work/run" && ulimit -f 1 && trap '' XFSZ &&
  LLVM_PROFILE_FILE=${LLVM_PROFILE_FILE:+/dev/null} exec "$bin" >../stdout 2>../stderr)
status=$?
[ $status -eq 1 ] || fail "ulimit -f 1: status $status"
# (The first line: a coverage build's runtime adds one of its own, failing to write its profile.)
[ "$(head -n 1 "$work/stderr")" = "Error: Failed to write qt-assistant.qhp." ] ||
  fail "ulimit -f 1: stderr $(cat "$work/stderr")"
[ -z "$(ls -A "$work/run" | grep 'qhp')" ] || fail "ulimit -f 1: left $(ls -A "$work/run")"

# Standard output and error into one file.
rm -rf "$work/run" && mkdir "$work/run"
cp "$cases/../cases/junk_bad_title/Contents.hhc" "$cases/../cases/junk_bad_title/Index.hhk" \
  "$work/run/"
(cd "$work/run" && "$bin" >../both 2>&1)
printf 'Invalid title: %s\nInvalid line: %s\nError: Junk line in Contents.hhc.\n' \
  "$(sed -n 's/^Invalid title: //p' "$cases/../cases/junk_bad_title/expected.stdout")" \
  "$(sed -n 's/^Invalid line: //p' "$cases/../cases/junk_bad_title/expected.stdout")" >"$work/expected"
cmp -s "$work/expected" "$work/both" || { fail "stdout and stderr in one file:"; cat "$work/both"; }
exit $failed
