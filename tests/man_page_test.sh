#!/bin/sh
# The man page renders without a single warning.
set -u
warnings=$(man --warnings -l "$1" 2>&1 >/dev/null)
[ -z "$warnings" ] || { echo "$warnings"; exit 1; }
