#!/bin/sh
# The --qch step with stand-in generators, so that it runs without Qt: a $QHELPGENERATOR that
# names no program is passed over for one on PATH; a generator that fails is our failure
# (status 1, its output shown, the .qhp kept); a collection file of the user's is never
# rewritten; one is made where there is none.
set -u
qhp_bin=$1
root=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0
fail() {
  echo "$1"
  failed=1
}
mkdir "$work/bin" "$work/run"
# Writes the file after -o: "collection" for a .qhc, "book" for a .qch; notes each call.
cat >"$work/bin/qhelpgenerator" <<'GENERATOR'
#!/bin/sh
echo "$1" >>"$CALLS"
case "$3" in *.qhc) echo collection >"$3" ;; *) echo book >"$3" ;; esac
GENERATOR
cat >"$work/failing" <<'GENERATOR'
#!/bin/sh
echo "qhelpgenerator: cannot build the help"
exit 3
GENERATOR
chmod +x "$work/bin/qhelpgenerator" "$work/failing"
: >"$work/not-a-program"
export CALLS="$work/calls"
run() {
  rm -rf "$work/run" "$CALLS"
  cp -R "$root/examples/handbook" "$work/run"
  (cd "$work/run" && "$@" >"$work/stdout" 2>"$work/stderr")
  echo $? >"$work/status"
}

run env QHELPGENERATOR="$work/not-a-program" PATH="$work/bin:$PATH" "$qhp_bin" --qch
[ "$(cat "$work/status")" = 0 ] || fail "passed over: status $(cat "$work/status"), $(cat "$work/stderr")"
[ "$(cat "$work/run/qt-assistant.qch" 2>/dev/null)" = book ] || fail "passed over: no .qch"
[ "$(cat "$work/run/qt-assistant.qhc" 2>/dev/null)" = collection ] || fail "no collection made"
[ ! -e "$work/run/qt-assistant.qhcp" ] || fail "the collection project stays"

run env QHELPGENERATOR="$work/failing" "$qhp_bin" --qch
[ "$(cat "$work/status")" = 1 ] || fail "failing generator: status $(cat "$work/status")"
grep -q '^qhelpgenerator: cannot build the help$' "$work/stderr" || fail "its output not shown"
grep -q "^Error: $work/failing failed on qt-assistant.qhp.\$" "$work/stderr" ||
  fail "no error line: $(cat "$work/stderr")"
[ -s "$work/run/qt-assistant.qhp" ] || fail "the .qhp not kept"

run sh -c "echo mine >qt-assistant.qhc && QHELPGENERATOR='$work/bin/qhelpgenerator' '$qhp_bin' --qch"
[ "$(cat "$work/status")" = 0 ] || fail "user's collection: status $(cat "$work/status")"
[ "$(cat "$work/run/qt-assistant.qhc")" = mine ] || fail "the user's collection file rewritten"
[ "$(cat "$CALLS")" = qt-assistant.qhp ] || fail "ran for a collection: $(cat "$CALLS")"

run env QHELPGENERATOR= PATH=/nonexistent "$qhp_bin" --qch
if [ -x /usr/lib/qt6/libexec/qhelpgenerator ] || [ -x /usr/lib/qt5/bin/qhelpgenerator ]; then
  :  # found in Qt's own folder: nothing to say about the message
else
  [ "$(cat "$work/status")" = 1 ] || fail "not found: status $(cat "$work/status")"
  grep -q '^Error: qhelpgenerator not found' "$work/stderr" || fail "not found: no line"
fi
exit $failed
