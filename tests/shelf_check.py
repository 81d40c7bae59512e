#!/usr/bin/env python3
"""A shelf of books: `sitemap-to-qhp [--qch] --output-dir lib BOOK...` over books compiled by
chmcmd (two of one stem from different folders, one that merges another and a book that is not
on the shelf), the real books of ../shared/books/ where present, and one file that is no book.
Without --qch, the collection project must list every book that converted; with --qch and the
real qhelpgenerator, the collection file must register every namespace. The bad book fails
alone, with its name on its line; merges of books on the shelf are not warned of, the rest in
one line; a collection of the user's is never written over.

usage: shelf_check.py QHP_BIN ROOT WORK_DIR CHMCMD [QHELPGENERATOR]
"""
import glob
import os
import shutil
import signal
import sqlite3
import subprocess
import sys
import time

MASTER_TOC = ('<HTML><BODY><UL><LI><OBJECT type="text/sitemap"><param name="Name" value="Master">'
              '<param name="Local" value="master.htm"></OBJECT>\n'
              '<LI><OBJECT type="text/sitemap"><param name="Name" value="Fuel, there">'
              '<param name="Local" value="Handbook.chm::/Fuel.HTML#top"></OBJECT></UL>\n'
              '<OBJECT type="text/sitemap"><param name="Merge" value="Handbook.CHM::/toc.hhc">'
              '</OBJECT>\n<OBJECT type="text/sitemap"><param name="Merge" value="gone.chm::/x.hhc">'
              '</OBJECT>\n</BODY></HTML>\n')


# Links into another book of the shelf, in every form HTML Help reads, and one into a book that
# is not on the shelf.
MASTER_PAGE = ('<html><head><title>Master</title></head><body>'
               '<a href="ms-its:handbook.chm::/fuel.html#x">1</a>'
               '<a href="mk:@MSITStore:C:\\Program Files\\App\\Handbook.CHM::\\Fuel.HTML">2</a>'
               '<a href="its:handbook.chm::/index.html">3</a>'
               '<a href="ms-its:gone.chm::/x.htm">4</a></body></html>\n')
MASTER_INDEX = ('<HTML><BODY><UL><LI><OBJECT type="text/sitemap">'
                '<param name="Name" value="fuel elsewhere">'
                '<param name="Local" value="ms-its:Handbook.chm::/fuel.html"></OBJECT>'
                '<LI><OBJECT type="text/sitemap"><param name="Name" value="master page">'
                '<param name="Local" value="master.htm"></OBJECT></UL></BODY></HTML>\n')
LINKED = ['href="qthelp://handbook/doc/fuel.html#x"', 'href="qthelp://handbook/doc/fuel.html"',
          'href="qthelp://handbook/doc/index.html"', 'href="ms-its:gone.chm::/x.htm"']


def compile_books(root, chmcmd, work):
    """en/handbook.chm, de/handbook.chm and master.chm, which merges handbook.chm."""
    for lang in ('en', 'de'):
        folder = os.path.join(work, 'src-' + lang)
        shutil.copytree(os.path.join(root, 'examples', 'handbook'), folder)
        subprocess.run([chmcmd, 'handbook.hhp'], cwd=folder, capture_output=True)
        os.makedirs(os.path.join(work, lang))
        shutil.copy(os.path.join(folder, 'handbook.chm'), os.path.join(work, lang))
    master = os.path.join(work, 'src-master')
    os.makedirs(master)
    with open(os.path.join(master, 'toc.hhc'), 'w') as f:
        f.write(MASTER_TOC)
    with open(os.path.join(master, 'master.htm'), 'w') as f:
        f.write(MASTER_PAGE)
    with open(os.path.join(master, 'index.hhk'), 'w') as f:
        f.write(MASTER_INDEX)
    with open(os.path.join(master, 'master.hhp'), 'w') as f:
        f.write('[OPTIONS]\nCompiled file=master.chm\nContents file=toc.hhc\nTitle=Master\n'
                'Index file=index.hhk\nDefault topic=master.htm\n\n[FILES]\nmaster.htm\n')
    subprocess.run([chmcmd, 'master.hhp'], cwd=master, capture_output=True)
    shutil.copy(os.path.join(master, 'master.chm'), work)
    with open(os.path.join(work, 'bad.chm'), 'w') as f:
        f.write('no book\n')
    return ['en/handbook.chm', 'de/handbook.chm', 'master.chm', 'bad.chm']


def run_shelf_in(qhp, work, books, extra, folder, env):
    done = subprocess.run([qhp] + extra + ['--output-dir', folder] + books, cwd=work,
                          capture_output=True, env=env)
    return done.returncode, done.stderr.decode(errors='replace')


def run_shelf(qhp, work, books, extra, env):
    return run_shelf_in(qhp, work, books, extra, 'lib', env)


def check(qhp, root, work, chmcmd, generator):
    books = compile_books(root, chmcmd, work)
    shared = sorted(glob.glob(os.path.join(root, '..', 'shared', 'books', '*.chm')))
    books += [os.path.abspath(b) for b in shared]
    env = dict(os.environ, QHELPGENERATOR=generator or '')
    wrong = []
    expected = ['handbook', 'handbook-2', 'master'] + [
        os.path.splitext(os.path.basename(b))[0].lower() for b in shared]
    for extra in (['-j', '1'], ['--qch']) if generator else (['-j', '1'],):
        shutil.rmtree(os.path.join(work, 'lib'), ignore_errors=True)
        status, err = run_shelf(qhp, work, books, extra, env)
        label = ' '.join(extra)
        qch = '--qch' in extra
        lines = err.splitlines()
        if status != 1:
            wrong.append('%s: status %d' % (label, status))
        if not any(l.startswith('bad.chm: Error: bad.chm is not a .chm book') for l in lines):
            wrong.append('%s: no error line naming bad.chm' % label)
        if 'bad' in os.listdir(os.path.join(work, 'lib')):
            wrong.append('%s: the bad book left its folder' % label)
        # One line for the whole run; handbook.chm is on the shelf, in any letter case.
        merges = [l for l in lines if 'merge' in l]
        if len(merges) != 1 or 'gone.chm' not in merges[0] or 'andbook' in merges[0]:
            wrong.append('%s: merge warnings %s' % (label, merges))
        page = open(os.path.join(work, 'lib', 'master', 'master.htm'), encoding='utf-8').read()
        for link in LINKED:
            if link not in page:
                wrong.append('%s: master.htm lacks %s' % (label, link))
        # Assistant opens a section's page only in its own book: the section leads to a page of
        # its own that links on; a keyword moves into the book it leads into.
        lib = os.path.join(work, 'lib')
        qhp_text = open(os.path.join(lib, 'master', 'master.qhp'), encoding='utf-8').read()
        stub = os.path.join(lib, 'master', '_shelf-links_', '1.html')
        if ('<section title="Fuel, there" ref="_shelf-links_/1.html"/>' not in qhp_text or
                '<file>_shelf-links_/1.html</file>' not in qhp_text or
                'href="qthelp://handbook/doc/fuel.html#top"' not in open(stub).read()):
            wrong.append('%s: the section into handbook.chm does not lead there' % label)
        if 'title=""' in qhp_text or 'Merge' in qhp_text:
            wrong.append('%s: a Merge entry left a section' % label)
        handbook_qhp = open(os.path.join(lib, 'handbook', 'handbook.qhp'), encoding='utf-8').read()
        if ('<keyword name="fuel elsewhere" ref="fuel.html"/>' not in handbook_qhp or
                'fuel elsewhere' in qhp_text):
            wrong.append('%s: the keyword into handbook.chm not moved there' % label)
        if ('master.chm: Warning: 1 link into books not on the shelf (gone.chm) left as it is.'
                not in lines):
            wrong.append('%s: no warning of the link into gone.chm' % label)
        if not qch:
            project = open(os.path.join(work, 'lib', 'help.qhcp')).read()
            for name in ('handbook/handbook.qhp', 'handbook-2/handbook.qhp', 'master/master.qhp'):
                if '<input>%s</input>' % name not in project:
                    wrong.append('collection project lacks %s' % name)
            again, err = run_shelf(qhp, work, books[:1], ['--collection', 'help'], env)
            if again != 1 or 'help.qhcp exists already' not in err:
                wrong.append('an existing collection: status %d, %s' % (again, err.strip()))
        else:
            db = sqlite3.connect(os.path.join(work, 'lib', 'help.qhc'))
            registered = sorted(n for (n,) in db.execute('SELECT Name FROM NamespaceTable'))
            if registered != sorted(expected):
                wrong.append('registered %s, expected %s' % (registered, sorted(expected)))
            if os.path.exists(os.path.join(work, 'lib', '.help.qhcp')):
                wrong.append('the collection project stays')
            # Every page a link was made to is a file of the other book's .qch.
            qch = sqlite3.connect(os.path.join(work, 'lib', 'handbook', 'handbook.qch'))
            files = {n for (n,) in qch.execute('SELECT Name FROM FileNameTable')}
            for link in LINKED[:3]:
                target = link.split('/doc/')[1].split('#')[0].rstrip('"')
                if target not in files:
                    wrong.append('%s is no file of handbook.qch' % target)
            # The collection gains a book of a new name; one whose namespace it has is refused.
            os.makedirs(os.path.join(work, 'more'), exist_ok=True)
            shutil.copy(os.path.join(work, 'en', 'handbook.chm'),
                        os.path.join(work, 'more', 'Other.chm'))
            added, err = run_shelf(qhp, work, ['more/Other.chm'], ['--qch', '--collection',
                                                                   'help'], env)
            names = sorted(n for (n,) in sqlite3.connect(os.path.join(lib, 'help.qhc')).execute(
                'SELECT Name FROM NamespaceTable'))
            if added != 0 or names != sorted(expected + ['other']):
                wrong.append('adding to the collection: status %d, %s' % (added, names))
            again, err = run_shelf(qhp, work, ['master.chm'], ['--qch', '--collection', 'help'],
                                   env)
            if again != 1 or 'registers master (master.chm) already' not in err:
                wrong.append('a namespace registered already: status %d, %s' % (again, err))
            moved = qch.execute("SELECT f.Name FROM IndexTable i JOIN FileNameTable f ON "
                                "i.FileId = f.FileId WHERE i.Name = 'fuel elsewhere'").fetchall()
            if moved != [('fuel.html',)]:
                wrong.append('the moved keyword in handbook.qch leads to %s' % moved)
        print('shelf of %d books, %s: %s' % (len(books), label, '; '.join(wrong) or 'ok'))
    return wrong


def check_order(qhp, work, chmcmd):
    """What the books say comes in input order, however they end: a book of 1,500 pages that
    warns, then one that is no book and fails at once, two at a time."""
    sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
    import chm_check
    folder = os.path.join(work, 'src-slow')
    chm_check.large_project(folder, 1500)
    with open(os.path.join(folder, 'toc.hhc')) as f:
        toc = f.read()
    with open(os.path.join(folder, 'toc.hhc'), 'w') as f:
        f.write(toc.replace('</UL>', '<LI><OBJECT type="text/sitemap"><param name="Name" '
                            'value="Gone"><param name="Local" value="gone.html"></OBJECT></UL>', 1))
    subprocess.run([chmcmd, 'large.hhp'], cwd=folder, capture_output=True)
    shutil.copy(os.path.join(folder, 'large.chm'), os.path.join(work, 'slow.chm'))
    shutil.rmtree(os.path.join(work, 'lib'), ignore_errors=True)
    # (A project file on the shelf too, whose book links know it by the name it compiles to.)
    status, err = run_shelf(qhp, work, ['slow.chm', 'bad.chm', 'src-en/handbook.hhp'],
                            ['-j', '2'], os.environ)
    books = [l.split(':')[0] for l in err.splitlines() if l.startswith(('slow.chm:', 'bad.chm:'))]
    if not os.path.exists(os.path.join(work, 'lib', 'handbook', 'handbook.qhp')):
        books.append('no handbook.qhp from the project file')
    wrong = [] if books == ['slow.chm', 'bad.chm'] else ['lines in the order %s' % books]
    print('what books say, in input order: %s' % ('; '.join(wrong) or 'ok'))
    return wrong


def check_failures(qhp, work):
    """A shelf's own failures, each with its one line and status 1: a folder that cannot be
    made, a collection that is no collection, qhelpgenerator failing on a book and on the
    collection (stand-ins); and the progress line on a terminal."""
    wrong = []
    books = ['en/handbook.chm', 'master.chm']
    open(os.path.join(work, 'a-file'), 'w').close()
    status, err = run_shelf_in(qhp, work, books, [], 'a-file/lib', os.environ)
    if status != 1 or 'Error: Failed to create a-file/lib.' not in err:
        wrong.append('a folder under a file: %d %s' % (status, err.strip()))
    shutil.rmtree(os.path.join(work, 'lib'), ignore_errors=True)
    os.makedirs(os.path.join(work, 'lib'))
    with open(os.path.join(work, 'lib', 'help.qhc'), 'w') as f:
        f.write('no collection\n')
    status, err = run_shelf(qhp, work, books, ['--qch'], os.environ)
    if status != 1 or 'Error: Failed to read the collection lib/help.qhc.' not in err:
        wrong.append('a collection that is none: %d %s' % (status, err.strip()))
    for name, script, line in (
            ('fails-on-books', 'echo "no help for you"; exit 1',
             'master.chm: Error: qhelpgenerator failed on lib/master/master.qhp.'),
            ('fails-on-collection', 'case "$3" in *.qhc) exit 1 ;; esac; echo book >"$3"',
             'Error: qhelpgenerator failed on the collection lib/help.qhc.')):
        stand_in = os.path.join(work, name)
        with open(stand_in, 'w') as f:
            f.write('#!/bin/sh\n%s\n' % script)
        os.chmod(stand_in, 0o755)
        shutil.rmtree(os.path.join(work, 'lib'), ignore_errors=True)
        status, err = run_shelf(qhp, work, books, ['--qch'],
                                dict(os.environ, QHELPGENERATOR=stand_in))
        if status != 1 or line not in err.splitlines() or os.path.exists(
                os.path.join(work, 'lib', 'help.qhc')):
            wrong.append('%s: %d %s' % (name, status, err.strip()[-300:]))
    shutil.rmtree(os.path.join(work, 'lib'), ignore_errors=True)
    # On a terminal (script(1) makes one), one line counts the books and goes at the end.
    command = ' '.join([qhp, '-j', '1', '--output-dir', 'lib'] + books)
    done = subprocess.run(['script', '-q', '-c', command, '/dev/null'], cwd=work,
                          capture_output=True, stdin=subprocess.DEVNULL)
    shown = done.stdout.decode(errors='replace')
    last = shown[shown.rfind('[2/2]'):]
    if shutil.which('script') and ('[1/2] en/handbook.chm' not in shown or
                                   '\r\033[K' not in last):
        wrong.append('progress line: %r' % shown[-200:])
    print('a shelf\'s own failures and its progress line: %s' % ('; '.join(wrong) or 'ok'))
    return wrong


def check_interrupt(qhp, work, books):
    """Ctrl-C while the books' .qch files are built: a stand-in qhelpgenerator that writes half
    a .qch and waits. Every folder that holds no whole book goes, no collection stays."""
    stand_in = os.path.join(work, 'slow-generator')
    with open(stand_in, 'w') as f:
        f.write('#!/bin/sh\necho half >"$3"\ntouch "%s/started"\nexec sleep 30\n' % work)
    os.chmod(stand_in, 0o755)
    shutil.rmtree(os.path.join(work, 'lib'), ignore_errors=True)
    env = dict(os.environ, QHELPGENERATOR=stand_in)
    run = subprocess.Popen([qhp, '--qch', '-j', '2', '--output-dir', 'lib'] + books[:3], cwd=work,
                           env=env, stderr=subprocess.PIPE, start_new_session=True)
    started = os.path.join(work, 'started')
    for _ in range(200):
        if os.path.exists(started):
            break
        time.sleep(0.05)
    os.killpg(run.pid, signal.SIGINT)
    err = run.communicate(timeout=60)[1].decode(errors='replace')
    left = sorted(os.listdir(os.path.join(work, 'lib')))
    wrong = []
    if run.returncode != 128 + signal.SIGINT:
        wrong.append('status %d' % run.returncode)
    if left:
        wrong.append('left %s' % left)
    if 'Interrupted' not in err:
        wrong.append('said %r' % err.strip()[-200:])
    print('shelf interrupted while its books are built: %s' % ('; '.join(wrong) or 'ok'))
    return wrong


def main():
    qhp, root, work, chmcmd = sys.argv[1:5]
    generator = sys.argv[5] if len(sys.argv) > 5 else None
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    wrong = check(qhp, root, work, chmcmd, generator)
    wrong += check_interrupt(qhp, work, ['en/handbook.chm', 'de/handbook.chm', 'master.chm'])
    wrong += check_order(qhp, work, chmcmd)
    wrong += check_failures(qhp, work)
    sys.exit(1 if wrong else 0)


if __name__ == '__main__':
    main()
