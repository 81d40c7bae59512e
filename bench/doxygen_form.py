#!/usr/bin/env python3
"""Rewrites a project of the strict form (generate_project.py) in the form Doxygen writes: each
entry on one indented line, lower-case params, an ImageNumber param in the contents, Local
before Name in the index, Doxygen's head; the same tree and the same entries.

usage: doxygen_form.py STRICT_DIR OUT_DIR
"""
import os
import re
import sys

HEAD = ('<!DOCTYPE HTML PUBLIC "-//IETF//DTD HTML//EN">\n<HTML><HEAD></HEAD><BODY>\n'
        '<OBJECT type="text/site properties">\n<param name="FrameName" value="right">\n'
        '</OBJECT>\n')
VALUE = re.compile(r'^<PARAM NAME="(Name|Local)" VALUE="(.*)">$')


def entries(lines):
    """Yields ('list', line) for list lines and ('entry', [(kind, value), ...]) for entries."""
    entry = None
    for line in lines:
        if line.startswith('<LI> <OBJECT'):
            entry = []
        elif line == '</OBJECT>' and entry is not None:
            yield 'entry', entry
            entry = None
        elif entry is not None:
            m = VALUE.match(line)
            if m:
                entry.append((m.group(1), m.group(2)))
        elif line in ('<UL>', '</UL>'):
            yield 'list', line


def rewrite(path, out, index):
    with open(path, encoding='latin-1') as f:
        lines = f.read().split('\n')
    depth = 0
    body = [HEAD]
    for kind, item in entries(lines[0 if index else 10:]):
        if kind == 'list':
            depth += 1 if item == '<UL>' else -1
            body.append('  ' * max(depth - 1, 0) + item + '\n')
            continue
        params = []
        names = [v for k, v in item if k == 'Name']
        locals_ = [v for k, v in item if k == 'Local']
        if index:
            params = ['<param name="Local" value="%s">' % v for v in locals_]
            params.append('<param name="Name" value="%s">' % (names[0] if names else ''))
        else:
            params = ['<param name="Name" value="%s">' % (names[0] if names else '')]
            params += ['<param name="Local" value="%s">' % v for v in locals_[:1]]
            params.append('<param name="ImageNumber" value="1">')
        body.append('  ' * depth + '<LI><OBJECT type="text/sitemap">' + ''.join(params) +
                    '</OBJECT>\n')
    body.append('</BODY>\n</HTML>\n')
    with open(out, 'w', encoding='latin-1') as f:
        f.write(''.join(body))


def main():
    strict, out = sys.argv[1:3]
    os.makedirs(out, exist_ok=True)
    rewrite(os.path.join(strict, 'Contents.hhc'), os.path.join(out, 'index.hhc'), False)
    rewrite(os.path.join(strict, 'Index.hhk'), os.path.join(out, 'index.hhk'), True)


if __name__ == '__main__':
    main()
