#!/bin/sh
# Installs with cmake --install and builds the Debian package with cpack, then checks both: the
# programs in bin/ and their man pages in share/man/man1/, the desktop entry, the package's
# metadata, and the programs unpacked from the package converting the example exactly as the
# built ones do.
set -u
build=$1
root=$2
bin=$build/sitemap-to-dcf
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0
check() { "$@" || { echo "failed: $*"; failed=1; }; }

check cmake --install "$build" --prefix "$work/prefix" >/dev/null
for program in sitemap-to-dcf sitemap-to-qhp; do
  check test -x "$work/prefix/bin/$program"
  check test -f "$work/prefix/share/man/man1/$program.1"
done

(cd "$build" && cpack -G DEB -B "$work/package" >/dev/null) || { echo "cpack failed"; exit 1; }
deb=$(ls "$work"/package/*.deb)
check test "$(dpkg-deb -f "$deb" Package)" = sitemap-to-dcf
check test "$(dpkg-deb -f "$deb" Section)" = utils
check test -n "$(dpkg-deb -f "$deb" Maintainer)"
check test -n "$(dpkg-deb -f "$deb" Description)"
check dpkg-deb -x "$deb" "$work/root"
check test -f "$work/root/usr/share/man/man1/sitemap-to-dcf.1"
check test -f "$work/root/usr/share/man/man1/sitemap-to-qhp.1"
# The desktop entry that opens a .chm with sitemap-to-qhp --open, valid where the validator is.
desktop=share/applications/sitemap-to-qhp-open.desktop
check test -f "$work/prefix/$desktop"
check cmp "$work/prefix/$desktop" "$work/root/usr/$desktop"
if command -v desktop-file-validate >/dev/null; then
  check desktop-file-validate "$work/root/usr/$desktop"
else
  echo "desktop-file-validate not found (desktop-file-utils): the desktop entry is not validated"
fi
dpkg-deb -f "$deb" Depends | grep -q libxml2 || { echo "no libxml2 in Depends"; failed=1; }
# A build that reads .chm books needs libmspack's library wherever it is installed.
if ldd "$build/sitemap-to-qhp" 2>/dev/null | grep -q libmspack; then
  dpkg-deb -f "$deb" Depends | grep -q libmspack0 || { echo "no libmspack0 in Depends"; failed=1; }
fi

for who in built installed; do
  mkdir "$work/$who"
  cp "$root/examples/handbook/Contents.hhc" "$root/examples/handbook/Index.hhk" "$work/$who/"
done
(cd "$work/built" && "$bin" && "$build/sitemap-to-qhp" 2>/dev/null) || failed=1
(cd "$work/installed" && "$work/root/usr/bin/sitemap-to-dcf" &&
  "$work/root/usr/bin/sitemap-to-qhp" 2>/dev/null) || failed=1
check cmp "$work/built/qt-assistant.dcf" "$work/installed/qt-assistant.dcf"
check cmp "$work/built/qt-assistant.qhp" "$work/installed/qt-assistant.qhp"
exit $failed
