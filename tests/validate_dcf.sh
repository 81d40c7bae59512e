#!/bin/sh
# Validates against docs/dcf.dtd, with xmllint, the DCF of the bundled example and the expected
# DCF of every end-to-end case that succeeds. The cases listed below are the exceptions, and
# must stay invalid: their inputs make a DCF that is not XML or breaks the DTD on purpose.
set -u
bin=$1
root=$2
dtd=$root/docs/dcf.dtd
not_valid='
values_verbatim         unescaped & < and quotes in values, copied verbatim
list_start_on_line_12   the examined top-level list start leaves a stray ">" in the DCF element
long_line_in_head       a head line read in two pieces moves the list start onto line 12
line_of_32767_in_head   the same, with a line of exactly 32767 bytes and its line feed
keywords_ref_ending_in_quote  a ref ending in a quote and ">" is copied verbatim into the DCF
'
failed=0
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$root/examples/handbook/Contents.hhc" "$root/examples/handbook/Index.hhk" "$work/"
(cd "$work" && "$bin") || { echo "the example did not convert"; failed=1; }
xmllint --noout --dtdvalid "$dtd" "$work/qt-assistant.dcf" || failed=1

count=0
for dir in "$root"/tests/cases/*/; do
  name=$(basename "$dir")
  [ -f "$dir/expected.dcf" ] && [ "$(cat "$dir/expected.status")" = 0 ] || continue
  if printf '%s\n' "$not_valid" | grep -q "^$name "; then
    if xmllint --noout --dtdvalid "$dtd" "$dir/expected.dcf" 2>/dev/null; then
      echo "$name: expected to be invalid, but it validates"
      failed=1
    fi
  elif ! xmllint --noout --dtdvalid "$dtd" "$dir/expected.dcf"; then
    echo "$name: does not validate"
    failed=1
  fi
  count=$((count + 1))
done
echo "checked the example and $count successful cases"
exit $failed
