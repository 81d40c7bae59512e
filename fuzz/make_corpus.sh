#!/bin/sh
# Seeds the fuzzer with every end-to-end case small enough to mutate quickly: the case's
# Contents.hhc, a 0x01 byte, then its Index.hhk.
set -eu
cases=$1
out=$2
mkdir -p "$out"
for dir in "$cases"/*/; do
  name=$(basename "$dir")
  [ -f "$dir/Contents.hhc" ] && [ -f "$dir/Index.hhk" ] || continue
  size=$(cat "$dir/Contents.hhc" "$dir/Index.hhk" | wc -c)
  [ "$size" -le 65536 ] || continue
  { cat "$dir/Contents.hhc"; printf '\001'; cat "$dir/Index.hhk"; } >"$out/$name"
done
