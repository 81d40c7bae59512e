#!/usr/bin/env python3
"""Converts a help project with sitemap-to-dcf and sitemap-to-qhp, builds the .qhp into a .qch
with the real qhelpgenerator, and checks that the .qch holds exactly the DCF's contents tree
(every title and page at its depth) and every keyword of the DCF (name, file and anchor).

usage: qch_check.py DCF_BIN QHP_BIN QHELPGENERATOR PROJECT_DIR WORK_DIR
Pages the sitemaps name but the project lacks are made as stub files first.
"""
import html
import os
import shutil
import sqlite3
import struct
import subprocess
import sys
import xml.etree.ElementTree as ET


def page_ref(ref):
    """A ref as the .qhp holds it."""
    while ref.startswith('./'):
        ref = ref[2:]
    return ref or 'index.html'


def dcf_tree(path):
    """(depth, ref, title) of every section, in order, and the set of (name, ref) keywords."""
    sections, keywords = [], set()

    def walk(element, depth):
        for child in element:
            if child.tag == 'section':
                sections.append((depth, page_ref(html.unescape(child.get('ref'))),
                                 html.unescape(child.get('title'))))
                walk(child, depth + 1)
            elif child.tag == 'keyword' and child.text:
                keywords.add((html.unescape(child.text),
                              page_ref(html.unescape(child.get('ref')))))

    walk(ET.parse(path).getroot(), 1)
    return sections, keywords


def qstring(data, pos):
    size = struct.unpack_from('>I', data, pos)[0]
    pos += 4
    if size == 0xFFFFFFFF:
        return '', pos
    return data[pos:pos + size].decode('utf-16-be'), pos + size


def qch_tree(path):
    """The contents as qhelpgenerator stored them (depth, ref, title), and the keywords."""
    db = sqlite3.connect(path)
    sections = []
    for (data,) in db.execute('SELECT Data FROM ContentsTable'):
        pos = 0
        while pos < len(data):
            depth = struct.unpack_from('>i', data, pos)[0]
            ref, pos = qstring(data, pos + 4)
            title, pos = qstring(data, pos)
            sections.append((depth, ref, title))
    keywords = set()
    for name, file, anchor in db.execute(
            'SELECT i.Name, f.Name, i.Anchor FROM IndexTable i '
            'JOIN FileNameTable f ON i.FileId = f.FileId'):
        keywords.add((name, file + ('#' + anchor if anchor else '')))
    return sections, keywords


def main():
    dcf_bin, qhp_bin, generator, project, work = sys.argv[1:6]
    shutil.rmtree(work, ignore_errors=True)
    shutil.copytree(project, work)
    subprocess.run([dcf_bin], cwd=work, check=True)
    sections, keywords = dcf_tree(os.path.join(work, 'qt-assistant.dcf'))
    for ref in {'index.html'} | {r for _, r, _ in sections} | {r for _, r in keywords}:
        page = os.path.join(work, ref.split('#')[0])
        if not os.path.exists(page):
            os.makedirs(os.path.dirname(page), exist_ok=True)
            with open(page, 'w') as f:
                f.write('<html><body><p>%s</p></body></html>\n' % html.escape(ref))
    qhp = subprocess.run([qhp_bin, '--title', 'Checked'], cwd=work, capture_output=True,
                         text=True)
    if qhp.returncode != 0 or qhp.stderr:
        sys.exit('sitemap-to-qhp: status %d, %s' % (qhp.returncode, qhp.stderr))
    built = subprocess.run([generator, 'qt-assistant.qhp', '-o', 'check.qch'], cwd=work,
                           capture_output=True, text=True)
    print(built.stdout.strip().splitlines()[-1] if built.stdout.strip() else '')
    if built.returncode != 0:
        sys.exit('qhelpgenerator failed: %s%s' % (built.stdout, built.stderr))

    got_sections, got_keywords = qch_tree(os.path.join(work, 'check.qch'))
    expected = [(0, 'index.html', 'Checked')] + sections
    failed = False
    if got_sections != expected:
        missing = [s for s in expected if s not in got_sections][:5]
        print('contents differ: %d sections in the .qch, %d expected; first missing: %s'
              % (len(got_sections), len(expected), missing))
        failed = True
    expected_keywords = {k for k in keywords if k[0]}
    if got_keywords != expected_keywords:
        print('keywords differ: missing %s, extra %s'
              % (sorted(expected_keywords - got_keywords)[:5],
                 sorted(got_keywords - expected_keywords)[:5]))
        failed = True
    print('%s: %d sections and %d keywords of the DCF found in the .qch'
          % (os.path.basename(project.rstrip('/')), len(sections), len(expected_keywords)))
    sys.exit(1 if failed else 0)


if __name__ == '__main__':
    main()
