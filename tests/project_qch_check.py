#!/usr/bin/env python3
"""Converts the generated windows-1251 and GBK project cases (tests/qhp_cases/hhp_*) from their
.hhp, builds each .qhp into a .qch with the real qhelpgenerator, and checks what a reader of
the book gets: the titles of the contents in Unicode, and a page converted to UTF-8 that holds
the text of the original page.

usage: project_qch_check.py QHP_BIN QHELPGENERATOR CASES_DIR WORK_DIR
"""
import os
import re
import shutil
import sqlite3
import struct
import subprocess
import sys
import zlib

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from qch_check import qch_tree  # noqa: E402

# case: (code page, book folder, titles of the contents in order, a page and a text in it)
BOOKS = {
    'hhp_windows_1251': ('cp1251', 'Справка', [
        'Справка по программе', 'Начало', 'Возможности', 'Редактор — Р', 'Сайт'],
        'страницы/Начало.htm', 'Добро пожаловать.'),
    'hhp_gbk_window': ('gbk', '文明百科', ['文明百科主页', '主页', '单位'],
                       '页面/主页.htm', '文明百科主页'),
}


def page_data(db, name):
    """A file as the .qch holds it: zlib data after its length in 4 bytes."""
    for (data,) in db.execute(
            'SELECT d.Data FROM FileDataTable d JOIN FileNameTable f ON d.Id = f.FileId '
            'WHERE f.Name = ?', (name,)):
        size = struct.unpack_from('>I', data)[0]
        text = zlib.decompress(data[4:])
        assert len(text) == size
        return text
    return None


def text_of(html):
    return re.sub(r'\s+', ' ', re.sub(r'<[^>]*>', ' ', html)).strip()


def main():
    qhp_bin, generator, cases, work = sys.argv[1:5]
    failed = False
    for case, (code_page, book, titles, page, text) in BOOKS.items():
        run = os.path.join(work, case)
        shutil.rmtree(run, ignore_errors=True)
        shutil.copytree(os.path.join(cases, case), run)
        subprocess.run(['sh', 'setup'], cwd=run, check=True)
        original_name = page.encode('utf-8')
        if case == 'hhp_gbk_window':  # its names on disk are in GBK too
            original_name = page.encode('gbk')
        with open(os.path.join(run.encode('utf-8'), original_name), 'rb') as f:
            original = f.read().decode(code_page)
        converted = subprocess.run([qhp_bin, 'project.hhp'], cwd=run, capture_output=True)
        if converted.returncode != 0:
            sys.exit('%s: sitemap-to-qhp failed: %s' % (case, converted.stderr.decode()))
        folder = os.path.join(run, book)
        built = subprocess.run([generator, book + '.qhp', '-o', 'book.qch'], cwd=folder,
                               capture_output=True, text=True)
        if built.returncode != 0:
            sys.exit('%s: qhelpgenerator failed: %s%s' % (case, built.stdout, built.stderr))
        qch = os.path.join(folder, 'book.qch')
        sections, _ = qch_tree(qch)
        got = [title for _, _, title in sections]
        if got != titles:
            print('%s: titles %s, expected %s' % (case, got, titles))
            failed = True
        data = page_data(sqlite3.connect(qch), page)
        shown = data.decode('utf-8') if data is not None else ''
        if data is None or text not in shown or text_of(shown) != text_of(original):
            print('%s: %s in the .qch is not the original text in UTF-8: %r' % (
                case, page, shown[:200]))
            failed = True
        print('%s: %d titles in Unicode, %s in UTF-8 in the .qch' % (case, len(got), page))
    sys.exit(1 if failed else 0)


if __name__ == '__main__':
    main()
