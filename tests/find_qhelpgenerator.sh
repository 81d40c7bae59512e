#!/bin/sh
# Prints the path of qhelpgenerator (on the PATH, or where Debian's Qt 6 and Qt 5 keep it), or
# nothing when there is none.
for candidate in "$(command -v qhelpgenerator)" /usr/lib/qt6/libexec/qhelpgenerator \
  /usr/lib/qt5/bin/qhelpgenerator; do
  [ -n "$candidate" ] && [ -x "$candidate" ] && { echo "$candidate"; exit 0; }
done
exit 0
