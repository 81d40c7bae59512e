#!/usr/bin/env python3
"""Checks `sitemap-to-qhp --html` against the real producer and the real consumer: Doxygen
documents the project's own src/ with both HTML Help and Qt Help output; its index.hhc and
index.hhk are converted with sitemap-to-qhp --html, both .qhp files are built with
qhelpgenerator, and the contents tree of our .qch must equal Doxygen's own (title, page and depth
of every entry; Doxygen's empty ref for an entry without a page counts as our "index.html"),
and our .qch must hold a keyword for every Local param of index.hhk.

usage: doxygen_check.py QHP_BIN QHELPGENERATOR DOXYGEN SOURCE_DIR WORK_DIR
"""
import html.parser
import os
import shutil
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from qch_check import qch_tree  # noqa: E402

DOXYFILE = '''PROJECT_NAME = "sitemap-to-dcf"
INPUT = {source}
RECURSIVE = YES
OUTPUT_DIRECTORY = {out}
EXTRACT_ALL = YES
GENERATE_LATEX = NO
HAVE_DOT = NO
SEARCHENGINE = NO
HTML_DYNAMIC_MENUS = NO
GENERATE_HTMLHELP = YES
HHC_LOCATION =
GENERATE_QHP = YES
QCH_FILE =
QHG_LOCATION =
QHP_NAMESPACE = org.example.sitemap
QHP_VIRTUAL_FOLDER = doc
QUIET = YES
WARNINGS = NO
'''


class IndexEntries(html.parser.HTMLParser):
    """Every Local param of an index, with its keyword: the entry's first Name behind the names
    of the entries it is nested under, by list depth."""

    def __init__(self):
        super().__init__()
        self.depth, self.names, self.entry, self.keywords = 0, [], None, []

    def handle_starttag(self, tag, attrs):
        a = {k.lower(): v for k, v in attrs}
        if tag == 'ul' and self.entry is None:
            self.depth += 1
        elif tag == 'object' and (a.get('type') or '').lower() == 'text/sitemap':
            self.entry = {'name': None, 'locals': []}
        elif tag == 'param' and self.entry is not None:
            kind = (a.get('name') or '').lower()
            if kind == 'name' and self.entry['name'] is None:
                self.entry['name'] = a.get('value') or ''
            elif kind == 'local':
                self.entry['locals'].append(a.get('value') or '')

    def handle_endtag(self, tag):
        if tag == 'ul' and self.entry is None:
            self.depth -= 1
        elif tag == 'object' and self.entry is not None:
            depth = max(self.depth, 1)
            self.names = (self.names + [''] * depth)[:depth]
            self.names[depth - 1] = self.entry['name'] or ''
            path = ', '.join(n for n in self.names if n)
            self.keywords += [(path, local) for local in self.entry['locals']]
            self.entry = None


def main():
    qhp_bin, generator, doxygen, source, work = sys.argv[1:6]
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    with open(os.path.join(work, 'Doxyfile'), 'w') as f:
        f.write(DOXYFILE.format(source=source, out=os.path.join(work, 'out')))
    subprocess.run([doxygen, 'Doxyfile'], cwd=work, check=True, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL)
    folder = os.path.join(work, 'out', 'html')
    ours = subprocess.run([qhp_bin, '--html', '--title', 'sitemap-to-dcf', '--contents',
                           'index.hhc', '--index', 'index.hhk', '--output', 'ours.qhp'],
                          cwd=folder, capture_output=True, text=True)
    if ours.returncode != 0:
        sys.exit('sitemap-to-qhp --html: status %d, %s' % (ours.returncode, ours.stderr))
    for qhp, qch in (('ours.qhp', 'ours.qch'), ('index.qhp', 'theirs.qch')):
        built = subprocess.run([generator, qhp, '-o', qch], cwd=folder, capture_output=True,
                               text=True)
        if built.returncode != 0:
            sys.exit('qhelpgenerator %s failed: %s%s' % (qhp, built.stdout, built.stderr))

    our_tree, our_keywords = qch_tree(os.path.join(folder, 'ours.qch'))
    their_tree, _ = qch_tree(os.path.join(folder, 'theirs.qch'))
    their_tree = [(depth, ref or 'index.html', title) for depth, ref, title in their_tree]
    failed = False
    if our_tree != their_tree:
        first = next((i for i, (a, b) in enumerate(zip(our_tree, their_tree)) if a != b),
                     min(len(our_tree), len(their_tree)))
        print('contents differ from entry %d: ours %s, Doxygen\'s %s'
              % (first, our_tree[first:first + 1], their_tree[first:first + 1]))
        failed = True
    index = IndexEntries()
    with open(os.path.join(folder, 'index.hhk'), encoding='utf-8') as f:
        index.feed(f.read())
    missing = [k for k in index.keywords if k not in our_keywords]
    if missing:
        print('%d Local params of index.hhk have no keyword, the first: %s'
              % (len(missing), missing[:3]))
        failed = True
    print('contents: %d entries compared with Doxygen\'s .qch, %s; keywords: %d Local params of '
          'index.hhk, %d found (%d distinct keywords in the .qch)'
          % (len(their_tree), 'equal' if our_tree == their_tree else 'different',
             len(index.keywords), len(index.keywords) - len(missing), len(our_keywords)))
    sys.exit(1 if failed else 0)


if __name__ == '__main__':
    main()
