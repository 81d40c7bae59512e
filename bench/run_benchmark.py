#!/usr/bin/env python3
"""Times sitemap-to-dcf on generated projects of several sizes and shapes and prints a Markdown
table: pages, input size, wall time (median), the floor program's time on the same project (map
both inputs, find every line feed, write a file of the DCF's size; bench/floor.cpp) and the ratio
to it, `wc -l` over the same inputs and the ratio to it, and peak memory (measured with
/usr/bin/time). Each program is timed as a whole process, in rounds that run every program once
(interleaved, so that all see the same machine), after one untimed round, pinned to one core
where there are several; each starts without the output file its last run left. The ratios
to the floor and of sitemap-to-qhp to sitemap-to-dcf are the median of the ratios of the runs of
one round, with their quartiles: the spread says how far the figure can be trusted.

usage: run_benchmark.py BINARY [--qhp QHP_BINARY] [--floor FLOOR_BINARY]
                        [--sizes 25000,50000,100000] [--shapes prefixes,anchors,deep,sparse]
                        [--runs 11] [--data DIR] [--chm PAGES] [--shelf BOOKS]
                        [--reference-commit REV [--reference-pages 2000] [--reference-runs 3]]

With --qhp, sitemap-to-qhp is timed in the same interleaved runs, for its time against
sitemap-to-dcf's on the same project, and `sitemap-to-qhp --html` on the same project rewritten
in the form Doxygen writes (bench/doxygen_form.py), for its time against the strict mode's, and
`sitemap-to-qhp PROJECT.hhp` on a project file naming those sitemaps, against --html (the
generated projects hold no pages, so there is nothing to copy).
--shapes adds projects of other shapes (generate_project.py --shape) at the largest size (the
anchors shape, with 20 keywords a page, at a fifth of it).

With --chm PAGES (and --qhp), a book of that many pages compiled by chmcmd (kept in the data
folder: compiling takes a while) is converted with `sitemap-to-qhp BOOK.chm`, interleaved with
CHMLib's extract_chmLib on the same book, the least a reader of it must do.

With --shelf N (and --qhp), a shelf of N books compiled by chmcmd is converted with --qch one
book at a time (-j 1) and two at a time (-j 2), interleaved.

With --reference-commit the given commit is built in a scratch work tree and timed on the
--reference-pages project too, for the speed-up over that build.

With --check-against REV the given commit is built the same way and run once on every
project; the run fails unless each DCF is the same, byte for byte, as that build's.
"""
import argparse
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)


def project(data, pages, shape='mixed'):
    folder = os.path.join(data, 'pages-%d' % pages + ('' if shape == 'mixed' else '-' + shape))
    if not os.path.exists(os.path.join(folder, 'Index.hhk')):
        subprocess.run([sys.executable, os.path.join(HERE, 'generate_project.py'), str(pages),
                        folder, '--seed', '1', '--shape', shape], check=True)
    return folder


def pinned():
    """The command prefix that keeps every timed program on one core, where the machine lets
    us: the last one, away from what the system starts on the first."""
    cores = sorted(os.sched_getaffinity(0)) if hasattr(os, 'sched_getaffinity') else []
    taskset = shutil.which('taskset')
    return [taskset, '-c', str(cores[-1])] if taskset and len(cores) > 1 else []


PIN = pinned()


def timed(cmd, cwd, output=None):
    """Wall seconds of one run of a whole process. Its output file is removed first: writing
    over a file of 21 MB costs its truncation, 6 to 9 ms on ext4 here, which the floor paid in
    full and which made it look slower than it is. What the runs before wrote is put on disk
    first, so that no program pays for the write-back of another's output."""
    if output:
        path = os.path.join(cwd, output)
        if os.path.isdir(path):
            shutil.rmtree(path)
        elif os.path.exists(path):
            os.unlink(path)
    os.sync()
    start = time.perf_counter()
    if subprocess.run(PIN + cmd, cwd=cwd, stdout=subprocess.DEVNULL,
                      stderr=subprocess.DEVNULL).returncode != 0:
        sys.exit('%s failed in %s' % (cmd[0], cwd))
    return time.perf_counter() - start


def ratio(numerators, denominators):
    """The median and the quartiles of the ratios of runs taken in the same round."""
    r = sorted(n / d for n, d in zip(numerators, denominators))
    q = statistics.quantiles(r, n=4) if len(r) > 1 else [r[0], r[0], r[0]]
    return statistics.median(r), q[0], q[2]


def shown(r):
    return '%.2f (%.2f-%.2f)' % r


def peak_memory(cmd, folder):
    """Peak resident memory (KiB) of one run, as /usr/bin/time reports it. (A child forked from
    this script would count this script's own memory as its peak.)"""
    with tempfile.NamedTemporaryFile('r') as out:
        subprocess.run(['/usr/bin/time', '-f', '%M', '-o', out.name] + cmd, cwd=folder,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
        return int(out.read().split()[-1])


def doxygen_form(folder):
    out = folder + '-doxygen'
    if not os.path.exists(os.path.join(out, 'index.hhk')):
        subprocess.run([sys.executable, os.path.join(HERE, 'doxygen_form.py'), folder, out],
                       check=True)
    return out


def measure(a, binary, qhp, floor, folder):
    times = {'dcf': [], 'wc': [], 'floor': [], 'qhp': [], 'html': [], 'hhp': [],
             'html floor': []}
    html_folder = doxygen_form(folder) if qhp else None
    html = [qhp, '--html', '--contents', 'index.hhc', '--index', 'index.hhk']
    book = os.path.join(os.path.abspath(a.data), 'book')
    hhp = [qhp, '--output-dir', book, 'bench.hhp']
    if qhp:
        with open(os.path.join(html_folder, 'bench.hhp'), 'w') as f:
            f.write('[OPTIONS]\nContents file=index.hhc\nIndex file=index.hhk\nTitle=Bench\n')
    dcf_size = os.path.getsize(os.path.join(folder, 'qt-assistant.dcf')) if os.path.exists(
        os.path.join(folder, 'qt-assistant.dcf')) else None
    runs = [('wc', ['wc', '-l', 'Contents.hhc', 'Index.hhk'], folder, None),
            ('dcf', [binary], folder, 'qt-assistant.dcf')]
    if floor:
        runs.append(('floor', [floor, 'Contents.hhc', 'Index.hhk', 'floor.out', 'SIZE'], folder,
                     'floor.out'))
    if qhp:
        runs += [('qhp', [qhp], folder, 'qt-assistant.qhp'),
                 ('html', html, html_folder, 'qt-assistant.qhp'),
                 ('hhp', hhp, html_folder, book)]
    if qhp and a.html_floor:
        runs.append(('html floor', [a.html_floor, 'index.hhc', 'index.hhk'], html_folder, None))
    # A round untimed first: the inputs in the page cache, the programs loaded, for all alike.
    for rnd in range(a.runs + 1):
        for name, cmd, cwd, output in runs:
            if name == 'floor':
                dcf_size = dcf_size or os.path.getsize(os.path.join(folder, 'qt-assistant.dcf'))
                cmd = cmd[:-1] + [str(dcf_size)]
            t = timed(cmd, cwd, output)
            if rnd > 0:
                times[name].append(t)
    result = {k: statistics.median(v) if v else None for k, v in times.items()}
    result['floor ratio'] = ratio(times['dcf'], times['floor']) if floor else None
    result['qhp ratio'] = ratio(times['qhp'], times['dcf']) if qhp else None
    result['peak'] = peak_memory([binary], folder)
    if qhp:
        result['html ratio'] = ratio(times['html'], times['html floor']) if a.html_floor \
            else None
        result['html peak'] = peak_memory(html, html_folder)
        result['html input'] = sum(os.path.getsize(os.path.join(html_folder, f))
                                   for f in ('index.hhc', 'index.hhk'))
    return result


def book_row(a, qhp):
    """sitemap-to-qhp BOOK.chm against extract_chmLib on a book compiled by chmcmd."""
    sys.path.insert(0, os.path.join(ROOT, 'tests'))
    import chm_check
    folder = os.path.abspath(os.path.join(a.data, 'book-%d' % a.chm))
    book = os.path.join(folder, 'large.chm')
    if not os.path.exists(book):
        shutil.rmtree(folder, ignore_errors=True)
        chm_check.large_project(folder, a.chm)
        chmcmd = shutil.which('chmcmd-3.2.2') or shutil.which('chmcmd')
        subprocess.run([chmcmd, 'large.hhp'], cwd=folder, check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    ours, peer = os.path.join(folder, 'ours'), os.path.join(folder, 'peer')
    times = {'ours': [], 'peer': []}
    for _ in range(a.runs):
        shutil.rmtree(ours, ignore_errors=True)
        shutil.rmtree(peer, ignore_errors=True)
        times['ours'].append(timed([qhp, '--output-dir', ours, book], folder))
        times['peer'].append(timed(['extract_chmLib', book, peer], folder))
    ours_t, peer_t = statistics.median(times['ours']), statistics.median(times['peer'])
    print('\n| book pages | book KB | sitemap-to-qhp BOOK.chm (median) | extract_chmLib (median) '
          '| ratio |')
    print('|---:|---:|---:|---:|---:|')
    print('| %d | %.0f | %.3f s | %.3f s | %.2f |' % (
        a.chm, os.path.getsize(book) / 1024, ours_t, peer_t, ours_t / peer_t))


def shelf_row(a, qhp):
    """A shelf of books compiled by chmcmd (--shelf N of them, of 150 to 500 pages), converted
    with --qch one book at a time (-j 1) and side by side (-j 2), interleaved."""
    sys.path.insert(0, os.path.join(ROOT, 'tests'))
    import chm_check
    folder = os.path.abspath(os.path.join(a.data, 'shelf-%d' % a.shelf))
    books = []
    chmcmd = shutil.which('chmcmd-3.2.2') or shutil.which('chmcmd')
    for n in range(a.shelf):
        source = os.path.join(folder, 'src-%d' % n)
        book = os.path.join(folder, 'book%d.chm' % n)
        if not os.path.exists(book):
            shutil.rmtree(source, ignore_errors=True)
            chm_check.large_project(source, 150 + 50 * n)
            subprocess.run([chmcmd, 'large.hhp'], cwd=source, check=True,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            shutil.move(os.path.join(source, 'large.chm'), book)
        books.append(book)
    out = os.path.join(folder, 'out')
    env = dict(os.environ, QT_QPA_PLATFORM='offscreen')
    times = {1: [], 2: []}
    for _ in range(a.runs):
        for jobs in (1, 2):
            shutil.rmtree(out, ignore_errors=True)
            start = time.perf_counter()
            subprocess.run([qhp, '--qch', '-j', str(jobs), '--output-dir', out] + books,
                           cwd=folder, env=env, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL, check=True)
            times[jobs].append(time.perf_counter() - start)
    pairs = [b / a_ for a_, b in zip(times[1], times[2])]
    print('\n| shelf books | -j 1, --qch (median) | -j 2 (median) | -j 2 / -j 1, median of pairs |')
    print('|---:|---:|---:|---:|')
    print('| %d | %.3f s | %.3f s | %.2f |' % (a.shelf, statistics.median(times[1]),
                                              statistics.median(times[2]),
                                              statistics.median(pairs)))


def build_reference(rev):
    tree = tempfile.mkdtemp(prefix='sitemap-reference-')
    subprocess.run(['git', '-C', ROOT, 'worktree', 'add', '--detach', tree, rev], check=True,
                   stdout=subprocess.DEVNULL)
    subprocess.run(['cmake', '-S', tree, '-B', os.path.join(tree, 'build'),
                    '-DSITEMAP_TESTS=OFF', '-DCMAKE_BUILD_TYPE=Release'], check=True,
                   stdout=subprocess.DEVNULL)
    subprocess.run(['cmake', '--build', os.path.join(tree, 'build')], check=True,
                   stdout=subprocess.DEVNULL)
    return tree, os.path.join(tree, 'build', 'sitemap-to-dcf')


def check_against(rev, binary, qhp, data, folders):
    """Runs the build of `rev` on every project and compares its DCF with this build's; with
    sitemap-to-qhp, also the .qhp of --html and of the project file on the Doxygen form."""
    tree, other = build_reference(rev)
    other_qhp = os.path.join(tree, 'build', 'sitemap-to-qhp')
    book = os.path.join(os.path.abspath(data), 'book')
    try:
        differ = []
        for folder in folders:
            runs = [(folder, [binary], [other], 'qt-assistant.dcf', 'DCF')]
            if qhp and os.path.exists(other_qhp):
                html = ['--html', '--contents', 'index.hhc', '--index', 'index.hhk']
                project = ['--output-dir', book, 'bench.hhp']
                runs += [(folder + '-doxygen', [qhp] + html, [other_qhp] + html,
                          'qt-assistant.qhp', '--html'),
                         (folder + '-doxygen', [qhp] + project, [other_qhp] + project,
                          os.path.join(book, 'bench.qhp'), '.hhp')]
            for cwd, ours_cmd, theirs_cmd, output, what in runs:
                outputs = []
                for cmd in (ours_cmd, theirs_cmd):
                    timed(cmd, cwd, book if what == '.hhp' else output)
                    with open(os.path.join(cwd, output), 'rb') as f:
                        outputs.append(f.read())
                if outputs[0] != outputs[1]:
                    differ.append('%s of %s' % (what, os.path.basename(folder)))
    finally:
        subprocess.run(['git', '-C', ROOT, 'worktree', 'remove', '--force', tree], check=True)
        shutil.rmtree(tree, ignore_errors=True)
    if differ:
        sys.exit('Not the same as %s\'s: %s' % (rev, ', '.join(differ)))
    print('\nThe DCF of each of the %d projects is the same, byte for byte, as the one %s '
          'writes%s.' % (len(folders), rev, ', and so are the .qhp files of --html and of the '
                         'project file' if qhp else ''))


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument('binary')
    ap.add_argument('--qhp')
    ap.add_argument('--floor')
    ap.add_argument('--html-floor')
    ap.add_argument('--shapes', default='')
    ap.add_argument('--sizes', default='25000,50000,100000')
    ap.add_argument('--runs', type=int, default=11)
    ap.add_argument('--data', default=os.path.join(tempfile.gettempdir(), 'sitemap-bench'))
    ap.add_argument('--chm', type=int, default=0)
    ap.add_argument('--shelf', type=int, default=0)
    ap.add_argument('--reference-commit')
    ap.add_argument('--reference-pages', type=int, default=2000)
    ap.add_argument('--reference-runs', type=int, default=3)
    ap.add_argument('--check-against')
    a = ap.parse_args()
    binary = os.path.abspath(a.binary)
    qhp = os.path.abspath(a.qhp) if a.qhp else None
    floor = os.path.abspath(a.floor) if a.floor else None
    a.html_floor = os.path.abspath(a.html_floor) if a.html_floor else None

    header = ['pages', 'shape', 'input MB', 'lines', 'wall (median)']
    if floor:
        header += ['floor (median)', 'ratio to floor, median of pairs (quartiles)']
    header += ['wc -l (median)', 'ratio to wc -l', 'peak memory MB', 'peak / input']
    if qhp:
        header += ['qhp (median)', 'qhp / dcf, median of pairs (quartiles)',
                   'qhp --html, Doxygen form (median)',
                   '--html / qhp', '--html peak MB', '--html peak / sitemaps']
        if a.html_floor:
            header += ['libxml2 SAX floor (median)', '--html / SAX floor, median of pairs']
        header += ['qhp PROJECT.hhp (median)', '.hhp / --html']
    print('| ' + ' | '.join(header) + ' |')
    print('|' + '---:|' * len(header))
    sizes = [int(s) for s in a.sizes.split(',')]
    if a.reference_commit and a.reference_pages not in sizes:
        sizes.insert(0, a.reference_pages)
    runs = [(pages, 'mixed') for pages in sizes]
    for shape in filter(None, a.shapes.split(',')):
        runs.append((max(sizes) // 5 if shape == 'anchors' else max(sizes), shape))
    results = {}
    folders = []
    for pages, shape in runs:
        folder = project(a.data, pages, shape)
        folders.append(folder)
        files = [os.path.join(folder, f) for f in ('Contents.hhc', 'Index.hhk')]
        size = sum(os.path.getsize(f) for f in files)
        lines = sum(open(f, 'rb').read().count(b'\n') for f in files)
        r = measure(a, binary, qhp, floor, folder)
        if shape == 'mixed':
            results[pages] = r['dcf']
        row = ['%d' % pages, shape, '%.1f' % (size / 1e6), '%d' % lines, '%.3f s' % r['dcf']]
        if floor:
            row += ['%.4f s' % r['floor'], shown(r['floor ratio'])]
        row += ['%.4f s' % r['wc'], '%.1f' % (r['dcf'] / r['wc']), '%.1f' % (r['peak'] / 1024),
                '%.2f' % (r['peak'] * 1024 / size)]
        if qhp:
            row += ['%.3f s' % r['qhp'], shown(r['qhp ratio']), '%.3f s' % r['html'],
                    '%.2f' % (r['html'] / r['qhp']), '%.1f' % (r['html peak'] / 1024),
                    '%.2f' % (r['html peak'] * 1024 / r['html input'])]
            if a.html_floor:
                row += ['%.3f s' % r['html floor'], shown(r['html ratio'])]
            row += ['%.3f s' % r['hhp'], '%.2f' % (r['hhp'] / r['html'])]
        print('| ' + ' | '.join(row) + ' |')
    previous = None
    for pages in sizes:
        if previous:
            print('\n%d pages take %.2f times as long as %d.' %
                  (pages, results[pages] / results[previous], previous))
        previous = pages

    if a.chm and qhp:
        book_row(a, qhp)

    if a.shelf and qhp:
        shelf_row(a, qhp)

    if a.check_against:
        check_against(a.check_against, binary, qhp, a.data, folders)

    if a.reference_commit:
        tree, reference = build_reference(a.reference_commit)
        folder = project(a.data, a.reference_pages)
        times = [timed([reference], folder) for _ in range(a.reference_runs)]
        ref = statistics.median(times)
        print('\nReference build %s on %d pages: %.3f s (median of %d); this build: %.4f s; '
              'speed-up %.0f times.' % (a.reference_commit, a.reference_pages, ref,
                                        a.reference_runs, results[a.reference_pages],
                                        ref / results[a.reference_pages]))
        subprocess.run(['git', '-C', ROOT, 'worktree', 'remove', '--force', tree], check=True)
        shutil.rmtree(tree, ignore_errors=True)


if __name__ == '__main__':
    main()
