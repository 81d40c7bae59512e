#!/bin/sh
# The real books of ../shared/books/ through sitemap-to-qhp --qch and the real qhelpgenerator
# (tests/books_check.py). Skipped (status 77) where the books are absent (a user's clone),
# qhelpgenerator or Python is missing, or this build reads no .chm.
set -u
qhp_bin=$1
root=$2
books=$(cd "$root/.." && pwd)/shared/books
generator=$(sh "$root/tests/find_qhelpgenerator.sh")
if [ ! -f "$books/sakura.chm" ] || [ -z "$generator" ] || ! command -v python3 >/dev/null; then
  echo "skipped: needs ../shared/books/, qhelpgenerator (qt6-documentation-tools), python3"
  exit 77
fi
sh "$root/tests/reads_chm.sh" "$qhp_bin" || exit 77
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export HOME="$work" XDG_RUNTIME_DIR="$work" QT_QPA_PLATFORM=offscreen
python3 "$root/tests/books_check.py" "$qhp_bin" "$generator" "$books" "$work/check"
