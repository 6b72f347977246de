#!/usr/bin/python3
"""Checks which way the includes of src/ run. The folders stand on floors; a file includes its own folder and
the floors below it, never a folder on its own floor nor one above. Logic (outside ui/ folders, app and shell)
includes no widget header and no ui header of another folder; only core/ui uses QMessageBox.

Run from the project root, or give the root as the only argument. Exits 1 on any violation."""
import os
import re
import sys

# Highest first; the folders of one floor do not know each other.
FLOORS = [
    ['app'],
    ['shell'],
    ['items', 'structure', 'archives', 'logview'],
    ['library'],
    ['transfer', 'accounts'],
    ['core'],
    ['store'],
]
floor = {name: len(FLOORS) - i for i, names in enumerate(FLOORS) for name in names}

INCLUDE = re.compile(r'^\s*#\s*include\s*[<"]([^">]+)[">]', re.M)
WIDGETS = re.compile(r'^(QtWidgets/|QtPrintSupport/)?Q(Widget|Dialog|MessageBox|MainWindow|MdiArea|Label|PushButton|'
                     r'LineEdit|ComboBox|TreeView|ListView|ListWidget|TreeWidget|TableView|FileDialog|InputDialog|'
                     r'ProgressBar|StatusBar|Menu|MenuBar|Action|Application|PrintPreviewDialog|Printer|Painter|'
                     r'TextBrowser)\b')


def floors_text():
    return ' -> '.join(', '.join(names) for names in FLOORS)


def check_file(path, top, is_ui):
    bad = []
    text = open(path, encoding='utf-8', errors='replace').read()
    for header in INCLUDE.findall(text):
        first = header.split('/')[0]
        if first in floor and first != top:
            if floor[first] == floor[top]:
                bad.append(f'{path}: includes {header} (sideways: {top} and {first} share a floor)')
            elif floor[first] > floor[top]:
                bad.append(f'{path}: includes {header} (runs up: {top} -> {first})')
            elif not is_ui and top not in ('app', 'shell') and '/ui/' in header:
                bad.append(f"{path}: logic includes another folder's ui {header}")
        if not is_ui and top not in ('app', 'shell') and WIDGETS.match(header.split('/')[-1].replace('.h', '')):
            bad.append(f'{path}: logic includes a widget header {header}')
    if 'QMessageBox' in text and not (top == 'core' and is_ui):
        bad.append(f'{path}: uses QMessageBox outside core/ui')
    return bad


def main():
    root = sys.argv[1] if len(sys.argv) > 1 else '.'
    src = os.path.join(root, 'src')
    bad = []
    files = 0
    for folder, _, names in os.walk(src):
        parts = os.path.relpath(folder, src).split(os.sep)
        top = parts[0]
        if top == '.':
            continue
        if top not in floor:
            bad.append(f'{folder}: a folder on no floor (add it to FLOORS in {os.path.basename(__file__)})')
            continue
        for name in sorted(names):
            if name.endswith(('.h', '.cpp')):
                files += 1
                bad.extend(check_file(os.path.join(folder, name), top, 'ui' in parts[1:]))
    for line in bad:
        print(line)
    print(f'floors: {floors_text()}')
    print(f'layers: {len(bad)} violations in {files} files')
    return 1 if bad or files == 0 else 0


if __name__ == '__main__':
    sys.exit(main())
