#!/usr/bin/env python3
"""`sitemap-to-qhp --open` with the real qhelpgenerator and a stand-in for Qt Assistant
(fake_assistant.py, which records how it was called and registers as Assistant does), the XDG
folders in a scratch folder: the first run converts and registers the book and starts Assistant
on the library at the start page; the second converts and writes nothing; a changed book
replaces its registration and its folder; a deleted cache is rebuilt; two runs at once both
succeed with one book; a failed conversion leaves nothing; a cache that cannot be written, and
no Assistant, are one error line each.

usage: open_check.py QHP_BIN QHELPGENERATOR ROOT WORK_DIR
"""
import os
import shutil
import sqlite3
import subprocess
import sys
import time

wrong = []


def expect(condition, what):
    if not condition:
        wrong.append(what)
    return condition


def files_under(*folders):
    """Every file and folder below `folders`, with what tells whether it was written again."""
    found = {}
    for folder in folders:
        for base, dirs, names in os.walk(folder):
            for name in dirs + names:
                st = os.lstat(os.path.join(base, name))
                found[os.path.join(base, name)] = (st.st_ino, st.st_mtime_ns, st.st_size)
    return found


def registrations(library):
    if not os.path.exists(library):
        return []
    return sorted(sqlite3.connect(library).execute('SELECT Name, FilePath FROM NamespaceTable'))


def book_folders(cache):
    return sorted(name for name in os.listdir(cache) if not name.startswith('.')) \
        if os.path.isdir(cache) else []


def main():
    qhp, generator, root, work = sys.argv[1:5]
    fake = os.path.join(work, 'assistant')
    with open(fake, 'w') as f:
        f.write('#!/bin/sh\nexec "%s" "%s" "$@"\n' % (
            sys.executable, os.path.join(root, 'tests', 'fake_assistant.py')))
    os.chmod(fake, 0o755)
    log = os.path.join(work, 'log')
    cache = os.path.join(work, 'cache', 'sitemap-to-qhp')
    data = os.path.join(work, 'data', 'sitemap-to-qhp')
    library = os.path.join(data, 'library.qhc')
    env = dict(os.environ, HOME=work, XDG_CACHE_HOME=os.path.join(work, 'cache'),
               XDG_DATA_HOME=os.path.join(work, 'data'), ASSISTANT=fake,
               FAKE_ASSISTANT_LOG=log, QHELPGENERATOR=generator)
    project = os.path.join(work, 'project')
    shutil.copytree(os.path.join(root, 'examples', 'handbook'), project)
    hhp = os.path.join(project, 'handbook.hhp')
    url = 'qthelp://handbook/doc/index.html'

    def run_open(*args, env=env):
        return subprocess.run([qhp, '--open'] + list(args), env=env, capture_output=True,
                              text=True)

    def calls(at_least=0):
        """Assistant's calls so far; waits for `at_least` (started on its own, it may not have
        written its line yet when the run ends)."""
        for _ in range(300):
            lines = open(log).read().splitlines() if os.path.exists(log) else []
            if len(lines) >= at_least:
                break
            time.sleep(0.1)
        return [line.split('\t') for line in lines]

    # The first time: converted, registered, Assistant started at the start page.
    done = run_open(hhp)
    expect(done.returncode == 0, 'first: status %d: %s' % (done.returncode, done.stderr))
    folders = book_folders(cache)
    expect(len(folders) == 1 and folders[0].startswith('handbook-'), 'first: cache %s' % folders)
    qch = os.path.join(cache, folders[0], 'book', 'handbook.qch') if folders else ''
    expect(os.path.isfile(qch), 'first: no %s' % qch)
    expect(calls(2) == [['-collectionFile', library, '-register', qch],
                        ['-collectionFile', library, '-showUrl', url]],
           'first: Assistant called %s' % calls())
    expect(registrations(library) == [('handbook', os.path.relpath(qch, data))],
           'first: the library registers %s' % registrations(library))

    # Again: nothing converted, written or registered.
    before = files_under(cache, data)
    done = run_open(hhp)
    expect(done.returncode == 0 and done.stderr == '', 'again: %d %s' % (done.returncode,
                                                                         done.stderr))
    expect(files_under(cache, data) == before, 'again: files of the cache or library written')
    expect(calls(3)[2:] == [['-collectionFile', library, '-showUrl', url]],
           'again: Assistant called %s' % calls()[2:])

    # The book changed: a new conversion in place of the old, in the cache and the library.
    with open(os.path.join(project, 'lamp.html'), 'a') as f:
        f.write('<!-- changed -->\n')
    done = run_open(hhp)
    expect(done.returncode == 0, 'changed: status %d: %s' % (done.returncode, done.stderr))
    changed = book_folders(cache)
    expect(len(changed) == 1 and changed != folders, 'changed: cache %s' % changed)
    qch = os.path.join(cache, changed[0], 'book', 'handbook.qch') if changed else ''
    expect(registrations(library) == [('handbook', os.path.relpath(qch, data))],
           'changed: the library registers %s' % registrations(library))
    expect([c[2] for c in calls(6)[3:]] == ['-unregister', '-register', '-showUrl'],
           'changed: Assistant called %s' % calls()[3:])

    # The cache deleted: the book converted again, under the path the library knows.
    shutil.rmtree(os.path.join(work, 'cache'))
    done = run_open(hhp)
    expect(done.returncode == 0 and os.path.isfile(qch), 'cache deleted: %d %s' % (
        done.returncode, done.stderr))
    expect(calls(7)[6:] == [['-collectionFile', library, '-showUrl', url]],
           'cache deleted: Assistant called %s' % calls()[6:])

    # Two at once, from nothing: both succeed, with one book in the cache and the library.
    shutil.rmtree(os.path.join(work, 'cache'))
    shutil.rmtree(os.path.join(work, 'data'))
    runs = [subprocess.Popen([qhp, '--open', hhp], env=env, stderr=subprocess.PIPE, text=True)
            for _ in range(2)]
    statuses = [(r.wait(), r.stderr.read()) for r in runs]
    expect(all(s == (0, '') for s in statuses), 'at once: %s' % statuses)
    expect(os.listdir(cache) and sorted(os.listdir(cache)) == ['.lock'] + changed,
           'at once: cache %s' % os.listdir(cache))
    expect(len(registrations(library)) == 1, 'at once: %s' % registrations(library))
    expect(sorted(c[2] for c in calls(10)[7:]) == ['-register', '-showUrl', '-showUrl'],
           'at once: Assistant called %s' % calls()[7:])

    # A conversion that fails leaves nothing in the cache or the library.
    bad = os.path.join(work, 'bad')
    shutil.copytree(project, bad)
    with open(os.path.join(bad, 'handbook.hhp'), 'a') as f:
        f.write('\r\n[OPTIONS]\r\nContents file=gone.hhc\r\n')
    before = files_under(cache, data)
    logged = len(calls(10))
    done = run_open(os.path.join(bad, 'handbook.hhp'))
    expect(done.returncode == 1 and done.stderr.count('Error: ') == 1 and 'gone.hhc' in
           done.stderr, 'failed: %d %s' % (done.returncode, done.stderr))
    expect(files_under(cache, data) == before and len(calls()) == logged,
           'failed: the cache, the library or Assistant touched')

    # A cache that cannot be written.
    blocked = os.path.join(work, 'a-file')
    open(blocked, 'w').close()
    done = run_open(hhp, env=dict(env, XDG_CACHE_HOME=blocked))
    expect(done.returncode == 1 and done.stderr.startswith(
        'Error: cannot write the cache folder %s/sitemap-to-qhp: ' % blocked) and
        done.stderr.count('\n') == 1, 'blocked: %d %s' % (done.returncode, done.stderr))

    # No Assistant: one line that says how to install it, and the book kept.
    usual = ['/usr/lib/qt6/bin', '/usr/lib/x86_64-linux-gnu/qt6/bin', '/usr/lib/qt5/bin',
             '/usr/lib/x86_64-linux-gnu/qt5/bin', '/usr/lib/aarch64-linux-gnu/qt5/bin',
             '/usr/lib/aarch64-linux-gnu/qt6/bin', '/usr/lib64/qt6/bin', '/usr/lib64/qt5/bin']
    if not any(os.path.exists(os.path.join(f, 'assistant')) for f in usual):
        with open(os.path.join(project, 'lamp.html'), 'a') as f:
            f.write('<!-- changed again -->\n')
        done = run_open(hhp, env=dict(env, ASSISTANT='/nonexistent', PATH='/nonexistent'))
        expect(done.returncode == 1 and done.stderr ==
               'Error: Qt Assistant not found: install it (Debian: assistant-qt6), or set '
               '$ASSISTANT to it.\n', 'no Assistant: %d %s' % (done.returncode, done.stderr))
        expect(len(book_folders(cache)) == 2, 'no Assistant: the book not kept')
    else:
        print('skipped the run without Assistant: Qt Assistant is installed')

    # --open takes one book, and no option that names its files.
    for args in ([hhp, hhp], ['--output-dir', 'x', hhp], []):
        done = run_open(*args)
        expect(done.returncode == 2, '--open %s: status %d' % (args, done.returncode))

    for line in wrong:
        print(line)
    print('%d checks wrong' % len(wrong))
    sys.exit(1 if wrong else 0)


if __name__ == '__main__':
    main()
