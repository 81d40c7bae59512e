#!/usr/bin/env python3
"""Real books, compiled by HTML Help Workshop, converted with `sitemap-to-qhp --qch BOOK.chm`
and read back from the .qch that the real qhelpgenerator built: every keyword and every section
must lead to a file of the book, and chosen pages and titles must hold the characters that HTML
Help shows (each book's code page read as Windows reads it, not by iconv's narrower tables).
Each book cut short must fail with one error line and leave nothing behind.

usage: books_check.py QHP_BIN QHELPGENERATOR BOOKS_DIR WORK_DIR
"""
import os
import shutil
import sqlite3
import subprocess
import sys
import urllib.parse
import zlib

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from qch_check import qch_tree  # noqa: E402

# book: (a title the contents must hold, (file, texts its page must hold))
BOOKS = {
    # windows-1252 quotes in titles, in sitemaps labelled US-ASCII.
    'putty.chm': ('\u2018Close window on exit\u2019', None),
    # Shift_JIS pages: 0x5C is '\\' and 0x81 0x60 is U+FF5E in code page 932, where glibc's
    # SHIFT_JIS has a yen sign and U+301C.
    'sakura.chm': ('\u30b5\u30af\u30e9\u30a8\u30c7\u30a3\u30bf \u30d8\u30eb\u30d7',
                   ('_RESOURCE/HLP_UR011.html',
                    ['(2003/06/26\uff5e)', "'\\0'\u3092\u542b\u3080"])),
    # Its title in code page 936, from #SYSTEM.
    '7-zip.chm': ('7-Zip \u5e2e\u52a9', ('start.htm', ['7-Zip \u8d77\u59cb\u9875'])),
}


def page_data(db, name):
    """A file of the .qch as qhelpgenerator stored it (qCompress: a length, then zlib)."""
    row = db.execute('SELECT d.Data FROM FileNameTable f JOIN FileDataTable d ON f.FileId = d.Id '
                     'WHERE f.Name = ?', (name,)).fetchone()
    return zlib.decompress(row[0][4:]).decode('utf-8', errors='replace') if row else None


def dead_links(qch):
    """Keywords stored without a file, and sections whose page is no file of the .qch."""
    db = sqlite3.connect(qch)
    files = {name for (name,) in db.execute("SELECT Name FROM FileNameTable WHERE Name <> ''")}
    dead = ['keyword %s' % name for (name,) in db.execute(
        'SELECT i.Name FROM IndexTable i LEFT JOIN FileNameTable f ON i.FileId = f.FileId '
        "WHERE f.Name IS NULL OR f.Name = ''")]
    sections = qch_tree(qch)[0]
    for _, ref, title in sections:
        if '://' in ref and '/doc/' not in ref:
            continue  # the web, not the book
        # Assistant decodes a section's URL when it opens it.
        page = urllib.parse.unquote(ref.split('#')[0].split('/doc/', 1)[-1])
        if page not in files:
            dead.append('section %s (%s)' % (title, ref))
    return dead, sections, db


def check_book(qhp, env, book, work):
    out = os.path.join(work, os.path.splitext(os.path.basename(book))[0])
    done = subprocess.run([qhp, '--qch', '--output-dir', out, book], cwd=work,
                          capture_output=True, env=env)
    if done.returncode != 0:
        return ['status %d: %s' % (done.returncode, done.stderr.decode(errors='replace'))]
    qch = [f for f in os.listdir(out) if f.endswith('.qch')][0]
    dead, sections, db = dead_links(os.path.join(out, qch))
    wrong = dead[:5]
    title, page = BOOKS[os.path.basename(book)]
    if title not in {t for _, _, t in sections}:
        wrong.append('no section titled %s (first: %s)' % (title, [t for _, _, t in sections[:3]]))
    if page:
        text = page_data(db, page[0])
        for expected in page[1]:
            if text is None or expected not in text:
                wrong.append('%s lacks %r' % (page[0], expected))
    keywords = db.execute('SELECT count(*) FROM IndexTable').fetchone()[0]
    print('%s: %d sections, %d keywords: %s' % (os.path.basename(book), len(sections), keywords,
                                                '; '.join(wrong) if wrong else 'ok'))
    return wrong


def check_cut(qhp, book, work):
    """The book cut short in its directory and in its pages: one error line, status 1, nothing
    left behind. (A book cut in its tail may lose only what is never read: its full-text and
    binary indexes.)"""
    data = open(book, 'rb').read()
    wrong = []
    for cut in (0x200, 0x3000, len(data) // 2):
        folder = os.path.join(work, 'cut-%d' % cut)
        os.makedirs(folder)
        with open(os.path.join(folder, 'book.chm'), 'wb') as f:
            f.write(data[:cut])
        done = subprocess.run([qhp, '--output-dir', 'out', 'book.chm'], cwd=folder,
                              capture_output=True)
        errors = [l for l in done.stderr.decode(errors='replace').splitlines()
                  if l.startswith('Error: ')]
        if done.returncode != 1 or len(errors) != 1 or os.listdir(folder) != ['book.chm']:
            wrong.append('cut at %d: status %d, %s, left %s' % (
                cut, done.returncode, errors, sorted(os.listdir(folder))))
    print('%s cut short: %s' % (os.path.basename(book), '; '.join(wrong) if wrong else 'ok'))
    return wrong


def main():
    qhp, generator, books, work = sys.argv[1:5]
    env = dict(os.environ, QHELPGENERATOR=generator)
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    failed = False
    for name in sorted(BOOKS):
        failed = bool(check_book(qhp, env, os.path.join(books, name), work)) or failed
        failed = bool(check_cut(qhp, os.path.join(books, name), os.path.join(work, name))) or failed
    sys.exit(1 if failed else 0)


if __name__ == '__main__':
    main()
