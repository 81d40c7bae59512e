#!/bin/sh
# Makes docs/assistant.png: the bundled example compiled into a .chm book by chmcmd, converted
# with sitemap-to-qhp --qch as a user with only the book would, registered and opened in Qt
# Assistant on a virtual screen, once with its contents and once with its index, the two
# pictures side by side.
# Needs Debian's xvfb, xdotool, assistant-qt6, qt6-documentation-tools, fp-utils-3.2.2 and
# imagemagick.
# usage: docs/make_screenshot.sh [BUILD_DIR]   (default build/, where sitemap-to-qhp was built)
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
generator=$(command -v qhelpgenerator || echo /usr/lib/qt6/libexec/qhelpgenerator)
assistant=$(command -v assistant || echo /usr/lib/qt6/bin/assistant)
work=$(mktemp -d)
xvfb=""
cleanup() {
  [ -z "$xvfb" ] || kill "$xvfb" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
# Assistant keeps its settings and caches under HOME; a scratch one leaves the user's alone.
export HOME="$work/home" XDG_RUNTIME_DIR="$work/run"
mkdir -p "$HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"

cp -R "$root/examples/handbook" "$work/project"
(cd "$work/project" && chmcmd-3.2.2 handbook.hhp >/dev/null 2>&1)
cd "$work"
QHELPGENERATOR=$generator "$build/sitemap-to-qhp" --qch --namespace org.example.handbook \
  project/handbook.chm
cd handbook
echo '<QHelpCollectionProject version="1.0"/>' >handbook.qhcp
"$generator" handbook.qhcp -o handbook.qhc
"$assistant" -collectionFile handbook.qhc -register handbook.qch

Xvfb :57 -screen 0 900x560x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
export DISPLAY=:57
sleep 2
shot() {  # shot WIDGET PAGE OUTPUT
  "$assistant" -collectionFile handbook.qhc -showUrl "qthelp://org.example.handbook/doc/$2" \
    -show "$1" -activate "$1" -geometry 900x560+0+0 >/dev/null 2>&1 &
  pid=$!
  sleep 6
  if [ "$1" = contents ]; then
    # The toolbar's "Sync with Table of Contents" opens the tree down to the page shown.
    xdotool mousemove 126 38 click 1
    sleep 1
  fi
  import -window root "$3"
  kill "$pid"
  wait "$pid" 2>/dev/null || true
}
shot contents lenses.html contents.png
shot index fuel.html index.png
convert contents.png index.png +append "$root/docs/assistant.png"
echo "wrote $root/docs/assistant.png"
