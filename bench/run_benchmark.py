#!/usr/bin/env python3
"""Times sitemap-to-dcf on generated projects of several sizes and prints a Markdown table:
pages, input size, wall time (median), `wc -l` over the same inputs (median, interleaved with
the conversion runs so both see the same machine), their ratio, and peak memory (measured with /usr/bin/time).

usage: run_benchmark.py BINARY [--qhp QHP_BINARY] [--sizes 25000,50000,100000] [--runs 11]
                        [--data DIR]
                        [--reference-commit REV [--reference-pages 2000] [--reference-runs 3]]

With --qhp, sitemap-to-qhp is timed in the same interleaved runs, for its time against
sitemap-to-dcf's on the same project, and `sitemap-to-qhp --html` on the same project rewritten
in the form Doxygen writes (bench/doxygen_form.py), for its time against the strict mode's.

With --reference-commit the given commit is built in a scratch work tree and timed on the
--reference-pages project too, for the speed-up over that build.
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


def project(data, pages):
    folder = os.path.join(data, 'pages-%d' % pages)
    if not os.path.exists(os.path.join(folder, 'Index.hhk')):
        subprocess.run([sys.executable, os.path.join(HERE, 'generate_project.py'), str(pages),
                        folder, '--seed', '1'], check=True)
    return folder


def timed(cmd, cwd):
    """Wall seconds of one run."""
    start = time.perf_counter()
    if subprocess.run(cmd, cwd=cwd, stdout=subprocess.DEVNULL,
                      stderr=subprocess.DEVNULL).returncode != 0:
        sys.exit('%s failed in %s' % (cmd[0], cwd))
    return time.perf_counter() - start


def peak_memory(binary, folder):
    """Peak resident memory (KiB) of one run, as /usr/bin/time reports it. (A child forked from
    this script would count this script's own memory as its peak.)"""
    with tempfile.NamedTemporaryFile('r') as out:
        subprocess.run(['/usr/bin/time', '-f', '%M', '-o', out.name, binary], cwd=folder,
                       stdout=subprocess.DEVNULL, check=True)
        return int(out.read().split()[-1])


def doxygen_form(folder):
    out = folder + '-doxygen'
    if not os.path.exists(os.path.join(out, 'index.hhk')):
        subprocess.run([sys.executable, os.path.join(HERE, 'doxygen_form.py'), folder, out],
                       check=True)
    return out


def measure(binary, qhp, folder, runs):
    conv, wc, qhp_times, html_times = [], [], [], []
    html_folder = doxygen_form(folder) if qhp else None
    html = [qhp, '--html', '--contents', 'index.hhc', '--index', 'index.hhk']
    for _ in range(runs):
        wc.append(timed(['wc', '-l', 'Contents.hhc', 'Index.hhk'], folder))
        conv.append(timed([binary], folder))
        if qhp:
            qhp_times.append(timed([qhp], folder))
            html_times.append(timed(html, html_folder))
    medians = [statistics.median(t) if t else None for t in (conv, wc, qhp_times, html_times)]
    return medians[0], medians[1], peak_memory(binary, folder), medians[2], medians[3]


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


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument('binary')
    ap.add_argument('--qhp')
    ap.add_argument('--sizes', default='25000,50000,100000')
    ap.add_argument('--runs', type=int, default=11)
    ap.add_argument('--data', default=os.path.join(tempfile.gettempdir(), 'sitemap-bench'))
    ap.add_argument('--reference-commit')
    ap.add_argument('--reference-pages', type=int, default=2000)
    ap.add_argument('--reference-runs', type=int, default=3)
    a = ap.parse_args()
    binary = os.path.abspath(a.binary)
    qhp = os.path.abspath(a.qhp) if a.qhp else None

    print('| pages | input MB | lines | wall (median) | wc -l (median) | ratio to wc -l '
          '| peak memory MB | peak / input |' +
          (' qhp (median) | qhp / dcf | qhp --html, Doxygen form (median) | --html / qhp |'
           if qhp else ''))
    print('|---:|---:|---:|---:|---:|---:|---:|---:|' + ('---:|---:|---:|---:|' if qhp else ''))
    sizes = [int(s) for s in a.sizes.split(',')]
    if a.reference_commit and a.reference_pages not in sizes:
        sizes.insert(0, a.reference_pages)
    results = {}
    for pages in sizes:
        folder = project(a.data, pages)
        files = [os.path.join(folder, f) for f in ('Contents.hhc', 'Index.hhk')]
        size = sum(os.path.getsize(f) for f in files)
        lines = sum(open(f, 'rb').read().count(b'\n') for f in files)
        wall, wc, peak, qhp_wall, html_wall = measure(binary, qhp, folder, a.runs)
        results[pages] = wall
        print('| %d | %.1f | %d | %.3f s | %.4f s | %.1f | %.1f | %.2f |' %
              (pages, size / 1e6, lines, wall, wc, wall / wc, peak / 1024, peak * 1024 / size)
              + (' %.3f s | %.2f | %.3f s | %.2f |' %
                 (qhp_wall, qhp_wall / wall, html_wall, html_wall / qhp_wall) if qhp else ''))
    previous = None
    for pages in sizes:
        if previous:
            print('\n%d pages take %.2f times as long as %d.' %
                  (pages, results[pages] / results[previous], previous))
        previous = pages

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
