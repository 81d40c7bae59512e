#!/usr/bin/env python3
"""From a project to a .chm and back: compiles projects with the real compiler (chmcmd), converts
each book with `sitemap-to-qhp --qch BOOK.chm`, and requires its .qch to hold the same contents
tree, titles and keywords as the .qch of `sitemap-to-qhp --qch PROJECT.hhp` on the same sources,
and every file of the book. Then the hostile set, made from a compiled book: cut at several
lengths, an entry renamed to leave the output folder, a file that is no book, an output folder
that is not empty or holds a symbolic link; each ends with its one line and status, and nothing
is written outside the output folder.

usage: chm_check.py QHP_BIN QHELPGENERATOR CHMCMD ROOT WORK_DIR
"""
import os
import shutil
import sqlite3
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from books_check import dead_links  # noqa: E402
from qch_check import qch_tree  # noqa: E402

# (folder, its project file, the code page of the project file); the cases are made in their
# code page by their setup script. chmcmd takes the names in a project file for bytes of the file
# system's names, which are UTF-8 here: a project file in another code page is given to it in
# UTF-8 (its sitemaps and pages stay in theirs).
PROJECTS = [('examples/handbook', 'handbook.hhp', None),
            ('tests/qhp_cases/hhp_windows_1251', 'project.hhp', 'cp1251'),
            ('tests/qhp_cases/hhp_bom_and_meta', 'help.hhp', None),
            ('tests/qhp_cases/hhp_real_forms', 'book.hhp', None),
            ('tests/qhp_cases/hhp_no_contents', 'notes.hhp', None)]


def run(cmd, cwd, env=None):
    return subprocess.run(cmd, cwd=cwd, capture_output=True, env=env)


def qch_files(path):
    db = sqlite3.connect(path)
    return {name for (name,) in db.execute('SELECT Name FROM FileNameTable')}


def qch_keywords(path):
    db = sqlite3.connect(path)
    return sorted((name, anchor or '') for name, anchor in db.execute(
        'SELECT Name, Anchor FROM IndexTable'))


def large_project(folder, pages):
    """A project of `pages` pages, enough for a directory of several listing chunks."""
    os.makedirs(os.path.join(folder, 'pages'))
    toc = ['<HTML><BODY><UL>']
    index = ['<HTML><BODY><UL>']
    for n in range(pages):
        name = 'pages/topic-%04d.html' % n
        with open(os.path.join(folder, name), 'w') as f:
            f.write('<html><head><title>Topic %d</title></head><body>%d</body></html>\n' % (n, n))
        entry = ('<LI><OBJECT type="text/sitemap"><param name="Name" value="Topic %d">'
                 '<param name="Local" value="%s"></OBJECT>' % (n, name))
        toc.append(entry)
        index.append(entry.replace('Topic', 'keyword'))
    for name, lines in (('toc.hhc', toc), ('index.hhk', index)):
        with open(os.path.join(folder, name), 'w') as f:
            f.write('\n'.join(lines + ['</UL></BODY></HTML>\n']))
    with open(os.path.join(folder, 'large.hhp'), 'w') as f:
        f.write('[OPTIONS]\nCompiled file=large.chm\nContents file=toc.hhc\n'
                'Index file=index.hhk\nDefault topic=pages/topic-0000.html\nTitle=Large\n'
                '\n[FILES]\n' + '\n'.join('pages/topic-%04d.html' % n for n in range(pages)) +
                '\n')


def compile_book(chmcmd, folder, hhp):
    before = set(os.listdir(folder))
    done = run([chmcmd, hhp], folder)
    made = [f for f in set(os.listdir(folder)) - before if f.lower().endswith('.chm')]
    if done.returncode != 0 or len(made) != 1:
        sys.exit('chmcmd failed on %s: %s' % (hhp, done.stdout.decode(errors='replace')[-500:]))
    return made[0]


def round_trip(qhp, env, chmcmd, source, hhp, work, code_page=None):
    folder = os.path.join(work, 'source')
    if not os.path.exists(folder):
        shutil.copytree(source, folder)
    if os.path.exists(os.path.join(folder, 'setup')):
        subprocess.run(['sh', 'setup'], cwd=folder, check=True)
    path = os.path.join(folder, hhp)
    text = open(path, 'rb').read().decode(code_page or 'latin-1')
    # chmcmd needs a name for the book where the project leaves it empty (the stem of the
    # project file is what sitemap-to-qhp takes then, too).
    text = text.replace('Compiled file=\n', 'Compiled file=%s.chm\n' % hhp[:-4])
    # and finds files by their exact names, where HTML Help Workshop ignores letter case.
    names = {n.lower(): n for n in os.listdir(folder)}
    lines = []
    for line in text.split('\n'):
        key, _, value = line.partition('=')
        if key.strip().lower() in ('contents file', 'index file') and value.strip().lower() in names:
            line = key + '=' + names[value.strip().lower()]
        lines.append(line)
    text = '\n'.join(lines)
    # It stops at a [FILES] line that names no file, where HTML Help Workshop warns: left out.
    if '[FILES]' in text:
        head, _, listed = text.partition('[FILES]')
        kept = [line for line in listed.split('\n') if not line.strip() or '[' in line or
                os.path.exists(os.path.join(folder, line.strip().replace('\\', '/')))]
        text = head + '[FILES]' + '\n'.join(kept)
    # It packs [FILES] and little else: a project without the section lists its pages there.
    if '[FILES]' not in text:
        pages = sorted(os.path.relpath(os.path.join(top, f), folder)
                       for top, _, files in os.walk(folder) for f in files
                       if f.lower().endswith(('.htm', '.html')))
        text = text.rstrip('\n') + '\n\n[FILES]\n' + '\n'.join(pages) + '\n'
    open(path, 'wb').write(text.encode('utf-8' if code_page else 'latin-1'))
    book = compile_book(chmcmd, folder, hhp)
    results, warned = {}, {}
    for label, target in (('hhp', hhp), ('chm', book)):
        out = os.path.join(work, label)
        done = run([qhp, '--qch', '--output-dir', out, target], folder, env)
        if done.returncode != 0:
            sys.exit('%s: sitemap-to-qhp --qch %s: %s' % (source, target, done.stderr.decode()))
        qch = [f for f in os.listdir(out) if f.endswith('.qch')]
        results[label] = os.path.join(out, qch[0])
        warned[label] = done.stderr.decode(errors='replace')
    failed = False
    hhp_tree, chm_tree = qch_tree(results['hhp'])[0], qch_tree(results['chm'])[0]
    if hhp_tree != chm_tree:
        print('%s: contents differ: %s / %s' % (source, hhp_tree[:3], chm_tree[:3]))
        failed = True
    if qch_keywords(results['hhp']) != qch_keywords(results['chm']):
        print('%s: keywords differ' % source)
        failed = True
    # Every file of the book in its .qch: every file written but the .qhp, .qch and sitemaps,
    # and, as its compiler was told, every [FILES] entry and every page of the contents.
    written = set()
    out = os.path.join(work, 'chm')
    for top, _, files in os.walk(out):
        for f in files:
            if not f.lower().endswith(('.qhp', '.qch', '.qhc', '.hhc', '.hhk')):
                written.add(os.path.relpath(os.path.join(top, f), out))
    told = {line.strip().replace('\\', '/') for line in text.split('[FILES]')[-1].splitlines()
            if line.strip() and '[' not in line} if '[FILES]' in text else set()
    pages = {ref.split('#')[0] for _, ref, _ in chm_tree} & qch_files(results['hhp'])
    got = qch_files(results['chm'])
    missing = (written | told | pages) - got
    if missing:
        print('%s: files of the book missing from its .qch: %s' % (source, sorted(missing)[:5]))
        failed = True
    # Every keyword and section leads to a file of the book (a keyword whose page was written
    # with a %XX escape was stored without one, and opened nothing).
    # (A project that names pages it lacks is warned of, and its links to them stay dead.)
    dead = dead_links(results['chm'])[0]
    if dead and 'Warning: no file for page' not in warned['chm']:
        print('%s: leading nowhere: %s' % (source, dead[:5]))
        failed = True
    print('%s: %s, %d sections, %d keywords, %d files' % (
        os.path.basename(source), book, len(chm_tree), len(qch_keywords(results['chm'])),
        len(qch_files(results['chm']))))
    return failed, os.path.join(folder, book)


def outside(work):
    """Every path under `work`, but those inside output folders (out*)."""
    paths = set()
    for top, dirs, files in os.walk(work):
        dirs[:] = [d for d in dirs if not (top == work and d.startswith('out'))]
        paths.update(os.path.join(top, f) for f in files + dirs)
    return paths


def hostile(qhp, book, work):
    failed = False
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    data = open(book, 'rb').read()
    cases = []
    for cut in (0x30, 0x78, 0x200, len(data) // 2, len(data) - 64):
        cases.append(('cut at %d' % cut, data[:cut], None, 1, 'Error: '))
    at = data.find(b'\x0a/fuel.html')  # a name is stored after its length
    renamed = data[:at + 1] + b'/../x.html' + data[at + 11:] if at >= 0 else None
    cases.append(('an entry named /../x.html', renamed, None, 0, 'Warning: left out /../x.html'))
    # A hidden name is a file of the book like any other: written, and listed in the .qhp.
    hidden = data[:at + 1] + b'/.uel.html' + data[at + 11:] if at >= 0 else None
    cases.append(('an entry named /.uel.html', hidden, 'hidden', 0,
                  'Warning: no file for page fuel.html'))
    cases.append(('no book', b'<html>not a book</html>\n', None, 1, 'Error: '))
    cases.append(('a folder not empty', data, 'file', 1, 'Error: out is not empty.'))
    cases.append(('a link in the folder', data, 'link', 1, 'Error: out is not empty.'))
    for label, content, prepare, status, line in cases:
        if content is None:
            print('hostile: %s: no such entry in the book' % label)
            failed = True
            continue
        for name in os.listdir(work):
            path = os.path.join(work, name)
            shutil.rmtree(path) if os.path.isdir(path) and not os.path.islink(path) else os.unlink(path)
        with open(os.path.join(work, 'book.chm'), 'wb') as f:
            f.write(content)
        if prepare == 'file':
            os.makedirs(os.path.join(work, 'out'))
            open(os.path.join(work, 'out', 'mine.txt'), 'w').close()
        if prepare == 'link':
            os.makedirs(os.path.join(work, 'out'))
            os.symlink('/tmp', os.path.join(work, 'out', 'escape'))
        before = outside(work)
        done = run([qhp, '--output-dir', 'out', 'book.chm'], work)
        err = done.stderr.decode(errors='replace')
        after = outside(work)
        wrong = []
        if done.returncode != status:
            wrong.append('status %d' % done.returncode)
        if not any(l.startswith(line) for l in err.splitlines()):
            wrong.append('no line "%s"' % line)
        if status == 1 and len([l for l in err.splitlines() if l.startswith('Error: ')]) != 1:
            wrong.append('not one error line')
        if after != before:
            wrong.append('wrote outside the folder: %s' % sorted(after - before))
        if status == 1 and prepare is None and os.path.exists(os.path.join(work, 'out')):
            wrong.append('left its folder')
        if prepare == 'hidden' and '<file>.uel.html</file>' not in open(
                os.path.join(work, 'out', 'book.qhp'), encoding='utf-8').read():
            wrong.append('left .uel.html out of the .qhp')
        if prepare == 'file' and os.listdir(os.path.join(work, 'out')) != ['mine.txt']:
            wrong.append('touched the user\'s folder')
        print('hostile: %s: %s' % (label, '; '.join(wrong) if wrong else 'ok (%s)' % (
            err.strip().splitlines() or ['status 0'])[-1][:70]))
        failed = failed or bool(wrong)
    return failed


def main():
    qhp, generator, chmcmd, root, work = sys.argv[1:6]
    env = dict(os.environ, QHELPGENERATOR=generator)
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    failed = False
    book = None
    for n, (source, hhp, code_page) in enumerate(PROJECTS):
        f, compiled = round_trip(qhp, env, chmcmd, os.path.join(root, source), hhp,
                                 os.path.join(work, 'project-%d' % n), code_page)
        failed = failed or f
        book = book or compiled
    large = os.path.join(work, 'large', 'source')
    large_project(large, 300)
    f, _ = round_trip(qhp, env, chmcmd, large, 'large.hhp', os.path.join(work, 'large'))
    failed = failed or f
    failed = hostile(qhp, book, os.path.join(work, 'hostile')) or failed
    sys.exit(1 if failed else 0)


if __name__ == '__main__':
    main()
