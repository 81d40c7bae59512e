#!/bin/sh
# Writes TEMPLATE to standard output with every "@C*N@" in it replaced by the byte C written N
# times: cases whose inputs hold lines of megabytes keep a small template in the repository and
# make the real file in their setup script.
# usage: expand_lines.sh TEMPLATE
set -eu
while IFS= read -r line || [ -n "$line" ]; do
  case $line in
    *@?\**@*)
      before=${line%%@*}
      rest=${line#*@}
      byte=${rest%%\**}
      rest=${rest#*\*}
      count=${rest%%@*}
      after=${rest#*@}
      printf '%s' "$before"
      head -c "$count" /dev/zero | tr '\0' "$byte"
      printf '%s\n' "$after"
      ;;
    *) printf '%s\n' "$line" ;;
  esac
done <"$1"
