#!/usr/bin/env python3
"""Context ids as a ported application finds them: the example project (its [ALIAS], and [MAP]
through an #include), the example compiled by chmcmd, and ../shared/books/sakura.chm (339 ids in
#IVB) converted with `sitemap-to-qhp --qch`, and each .qch opened with Qt's help engine
(help_ids), which must give every id its page and an unknown id none. Assistant's Index must not
change: no row without a name or of digits alone, no name and page twice (a topic chooser that
offers one page twice), and for the example the same rows as without its ids.

usage: context_ids_check.py QHP_BIN HELP_IDS QHELPGENERATOR ROOT BOOKS_DIR WORK_DIR
"""
import os
import shutil
import sqlite3
import struct
import subprocess
import sys

# The example's ids, as handbook.hhp and keeper.h give them.
EXAMPLE = [('IDH_ARRIVAL', 1000, 'arriving.html'), ('IDH_LAMP', 1010, 'lamp.html'),
           ('IDH_FUEL', 1020, 'fuel.html'), ('IDH_FOG_SIGNALS', 1030, 'fog.html'),
           ('IDH_MORSE', 1040, 'codes.html')]
UNKNOWN = ['IDH_NOWHERE', '999']


def index_rows(qch):
    """Assistant's Index as the .qch holds it: (name, file, anchor, id) of every keyword."""
    db = sqlite3.connect(qch)
    return sorted(db.execute(
        'SELECT i.Name, f.Name, i.Anchor, i.Identifier FROM IndexTable i '
        'JOIN FileNameTable f ON i.FileId = f.FileId'))


def index_faults(qch):
    rows = index_rows(qch)
    faults = ['a row without a name or of digits: %r' % (row,) for row in rows
              if not row[0].strip() or row[0].strip().isdigit()]
    seen = set()
    for row in rows:
        if row[:3] in seen:
            faults.append('%r twice: a topic chooser with one page twice' % (row[:3],))
        seen.add(row[:3])
    return faults


def convert(qhp, env, folder, name, out):
    run = subprocess.run([qhp, '--qch', '--output-dir', out, name], cwd=folder, env=env,
                         capture_output=True, text=True)
    if run.returncode != 0:
        sys.exit('%s failed on %s:\n%s' % (qhp, name, run.stderr))
    return run.stderr


def check_ids(help_ids, env, qch, expected, work):
    listing = os.path.join(work, os.path.basename(qch) + '.ids')
    with open(listing, 'w', encoding='utf-8') as f:
        for ident, url in expected:
            f.write('%s\t%s\n' % (ident, url))
    # Qt's own allocations at exit are no leaks of ours.
    run = subprocess.run([help_ids, qch, listing], env=dict(env, ASAN_OPTIONS='detect_leaks=0'),
                         capture_output=True, text=True)
    print('%s: %s' % (os.path.basename(qch), run.stdout.strip()))
    return [] if run.returncode == 0 else ['%s: %s' % (qch, run.stderr.strip())]


def ivb_ids(book, work):
    """The ids of a book read with CHMLib's extract_chmLib: #IVB's numbers and #STRINGS's paths,
    each as the file of the book it names (any letter case, '\\' between folders)."""
    folder = os.path.join(work, 'extracted')
    subprocess.run(['extract_chmLib', book, folder], capture_output=True, check=True)
    ivb = open(os.path.join(folder, '#IVB'), 'rb').read()
    strings = open(os.path.join(folder, '#STRINGS'), 'rb').read()
    files = {}
    for base, _, names in os.walk(folder):
        for name in names:
            path = os.path.relpath(os.path.join(base, name), folder)
            files[path.lower()] = path
    ids = []
    for at in range(4, 4 + struct.unpack('<I', ivb[:4])[0], 8):
        number, offset = struct.unpack('<II', ivb[at:at + 8])
        path = strings[offset:strings.index(b'\0', offset)].decode('cp932').replace('\\', '/')
        ids.append((str(number), files[path.lower()]))
    return ids


def main():
    qhp, help_ids, generator, root, books, work = sys.argv[1:7]
    env = dict(os.environ, QHELPGENERATOR=generator)
    wrong = []

    # The example project, and the same without its ids: the Index must be the same.
    example = os.path.join(work, 'example')
    shutil.copytree(os.path.join(root, 'examples', 'handbook'), example)
    convert(qhp, env, example, 'handbook.hhp', 'with')
    project = open(os.path.join(example, 'handbook.hhp'), encoding='utf-8').read()
    with open(os.path.join(example, 'plain.hhp'), 'w', encoding='utf-8') as f:
        f.write(project[:project.index('[ALIAS]')].replace('handbook.chm', 'plain.chm'))
    convert(qhp, env, example, 'plain.hhp', 'without')
    qch = os.path.join(example, 'with', 'handbook.qch')
    expected = []
    for name, number, page in EXAMPLE:
        url = 'qthelp://handbook/doc/' + page
        expected += [(name, url), (str(number), url)]
    wrong += check_ids(help_ids, env, qch, expected + [(u, '') for u in UNKNOWN], work)
    wrong += index_faults(qch)
    if [row[:3] for row in index_rows(qch)] != \
            [row[:3] for row in index_rows(os.path.join(example, 'without', 'plain.qch'))]:
        wrong.append('the example\'s ids changed its Index')

    # The example compiled: a book keeps the numbers alone.
    chmcmd = shutil.which('chmcmd-3.2.2') or shutil.which('chmcmd')
    if chmcmd:
        subprocess.run([chmcmd, 'handbook.hhp'], cwd=example, capture_output=True)
        convert(qhp, env, example, 'handbook.chm', 'book')
        qch = os.path.join(example, 'book', 'handbook.qch')
        expected = [(str(number), 'qthelp://handbook/doc/' + page) for _, number, page in EXAMPLE]
        wrong += check_ids(help_ids, env, qch, expected + [(name, '') for name, _, _ in EXAMPLE],
                           work)
        wrong += index_faults(qch)
    else:
        print('skipped the compiled example: no chmcmd (fp-utils)')

    sakura = os.path.join(books, 'sakura.chm')
    if os.path.exists(sakura) and shutil.which('extract_chmLib'):
        expected = [(n, 'qthelp://sakura/doc/' + page) for n, page in ivb_ids(sakura, work)]
        if len(expected) != 339:
            wrong.append('sakura.chm: %d ids in #IVB, not 339' % len(expected))
        convert(qhp, env, work, sakura, 'sakura')
        qch = os.path.join(work, 'sakura', 'sakura.qch')
        wrong += check_ids(help_ids, env, qch, expected + [('0', ''), ('IDH_X', '')], work)
        wrong += index_faults(qch)
    else:
        print('skipped sakura.chm: no ../shared/books/ or no extract_chmLib (libchm-bin)')

    for line in wrong[:20]:
        print(line)
    sys.exit(1 if wrong else 0)


if __name__ == '__main__':
    main()
