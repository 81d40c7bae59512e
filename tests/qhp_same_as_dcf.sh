#!/bin/sh
# Runs sitemap-to-qhp on the inputs of every end-to-end case of sitemap-to-dcf: it must print the
# same detail lines, the same error line (naming its own output) and end with the same status;
# a failure leaves no .qhp and no temporary file, and a success a well-formed UTF-8 .qhp.
# Cases about the DCF file itself (its path taken or unwritable) do not apply.
set -u
bin=$1
tests=$2
failed=0
count=0
for dir in "$tests"/cases/*/; do
  name=$(basename "$dir")
  case $name in open_dcf_is_directory | safety_dcf_on_full_disk | stale_longer_dcf) continue ;; esac
  run=$(mktemp -d)
  cp -R "$dir." "$run/"
  rm -f "$run"/expected.* "$run/setup"
  if [ -f "$dir/setup" ]; then (cd "$run" && sh "$dir/setup") || failed=1; fi
  (cd "$run" && exec "$bin" >"$run/.stdout" 2>"$run/.stderr")
  status=$?
  problem=""
  [ "$status" = "$(cat "$dir/expected.status")" ] || problem="status $status"
  cmp -s "$run/.stdout" "$dir/expected.stdout" || problem="$problem; stdout differs"
  if [ "$status" = 0 ]; then
    [ -s "$run/.stderr" ] && grep -qv '^Warning: ' "$run/.stderr" && problem="$problem; stderr"
    xmllint --noout "$run/qt-assistant.qhp" || problem="$problem; not well-formed"
  else
    sed 's/qt-assistant\.dcf/qt-assistant.qhp/' "$dir/expected.stderr" | cmp -s - "$run/.stderr" ||
      problem="$problem; stderr differs: $(head -c 200 "$run/.stderr")"
    ls -A "$run" | grep -q 'qhp' && problem="$problem; a .qhp file was left"
  fi
  [ -z "$problem" ] || { echo "$name: $problem"; failed=1; }
  count=$((count + 1))
  rm -rf "$run"
done
echo "$count cases run through sitemap-to-qhp"
exit $failed
