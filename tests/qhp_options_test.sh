#!/bin/sh
# Bad options and values of sitemap-to-qhp: one line on standard error, status 2, nothing read
# or written. --help and --version: their text on standard output, status 0.
set -u
bin=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
failed=0
# arguments (shell words) | the error line
while IFS='|' read -r args message; do
  eval "set -- $args"
  "$bin" "$@" >stdout 2>stderr
  status=$?
  if [ $status -ne 2 ] || [ "$(cat stderr)" != "sitemap-to-qhp: $message" ] || [ -s stdout ] ||
    [ -n "$(ls -A | grep -v '^std')" ]; then
    echo "$args: status $status, stderr: $(cat stderr)"
    failed=1
  fi
done <<'TABLE'
--nonsense|unknown option '--nonsense' (see --help)
-x|unknown option '-x' (see --help)
--help=yes|unknown option '--help=yes' (see --help)
a.chm b.chm --namespace x|--namespace is for one book, not a shelf (see --help)
a.chm b.chm --title x|--title is for one book, not a shelf (see --help)
a.chm b.chm --html|--html is for one book, not a shelf (see --help)
-j 0 a.chm b.chm|invalid number of jobs '0': 1 to 1000 (see --help)
--jobs x a.chm b.chm|invalid number of jobs 'x': 1 to 1000 (see --help)
--collection c|--collection needs a project to convert (see --help)
a.chm --collection ''|invalid collection '': a name of a file, without '/', not hidden (see --help)
a.chm --collection x/y|invalid collection 'x/y': a name of a file, without '/', not hidden (see --help)
--output-dir out|--output-dir needs a project to convert (see --help)
--output-dir '' book.hhp|the output folder is empty (see --help)
--title|option '--title' needs a value (see --help)
--namespace=|invalid namespace '': it is empty (see --help)
--namespace 'a b'|invalid namespace 'a b': only ASCII letters, digits, '.', '_' and '-' may stand in it (see --help)
--namespace a..b|invalid namespace 'a..b': it holds '..' (see --help)
--namespace .a|invalid namespace '.a': it starts with '.' or '-' (see --help)
--namespace -a|invalid namespace '-a': it starts with '.' or '-' (see --help)
--namespace a-|invalid namespace 'a-': it ends with '-' (see --help)
--virtual-folder ''|invalid virtual folder '': it is empty (see --help)
--virtual-folder a/b|invalid virtual folder 'a/b': '/', '#', '?' and '%' may not stand in it (see --help)
--virtual-folder 'a?b'|invalid virtual folder 'a?b': '/', '#', '?' and '%' may not stand in it (see --help)
--index ''|an input file name is empty (see --help)
--virtual-folder 50%|invalid virtual folder '50%': '/', '#', '?' and '%' may not stand in it (see --help)
--output help.xml|invalid output 'help.xml': it must end in .qhp, for qhelpgenerator to read it as a help project (see --help)
--output .qhp|invalid output '.qhp': it must end in .qhp, for qhelpgenerator to read it as a help project (see --help)
--output sub/help.qhp|invalid output 'sub/help.qhp': it must be a file of the current folder (see --help)
--title "$(printf '\377')"|the title is not UTF-8 (see --help)
--encoding ''|the encoding is empty (see --help)
--encoding no-such-charset|unknown encoding 'no-such-charset' (see iconv --list)
TABLE
"$bin" --virtual-folder "$(printf 'd\377')" >stdout 2>stderr
[ $? -eq 2 ] && LC_ALL=C grep -q "^sitemap-to-qhp: invalid virtual folder 'd.': it is not UTF-8" stderr ||
  { echo "--virtual-folder not UTF-8"; failed=1; }
"$bin" --help >stdout 2>stderr && head -n 1 stdout | grep -q '^Usage: sitemap-to-qhp' && [ ! -s stderr ] ||
  { echo "--help"; failed=1; }
"$bin" --version >stdout 2>stderr && grep -q '^sitemap-to-qhp [0-9]' stdout && [ ! -s stderr ] ||
  { echo "--version"; failed=1; }
exit $failed
