#!/usr/bin/env python3
"""Checks that every include of src/ and plugins/ points down the layers (docs/ARCHITECTURE.md):
a folder may include only its own headers and those of the folders listed for it. Prints each
include that breaks the rule and exits 1 when there is one."""
import os, re, sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BOTTOM = {'bytes', 'platform'}
ALLOWED = {
    'platform': set(),
    'bytes': set(),
    'sandbox': {'platform'},
    'cvtbase': BOTTOM,
    'storage': BOTTOM,
    'wordppt': {'storage', 'cvtbase'} | BOTTOM,
    'spreadsheet': {'storage', 'cvtbase'} | BOTTOM,
    'codecs': BOTTOM,
    'zip': {'codecs'} | BOTTOM,
    'xml': BOTTOM,
    'ooxml': {'spreadsheet', 'zip', 'xml', 'codecs', 'storage', 'cvtbase'} | BOTTOM,
    'bridges': {'cvtbase', 'plugins/include'} | BOTTOM,
    'api': {'bridges', 'wordppt', 'spreadsheet', 'ooxml', 'xml', 'cvtbase', 'scv'} | BOTTOM,
    'frontend': {'cvtbase', 'sandbox', 'scv'} | BOTTOM,
}
# Plug-ins: their own folder, the shared plug-in code and C interface, the confinement of a
# worker process, and the bottom layers.
PLUGIN = {'plugins/common', 'plugins/include', 'sandbox'} | BOTTOM


def target_of(include, folder):
    """The folder an include names: src/<dir>/, plugins/<dir>/, scv/ or a C header of plugins."""
    if include.startswith('scv/'):
        return 'scv'
    if include in ('ScvConverter.h', 'ScvEngineLoader.h'):
        return 'plugins/include'
    head = include.split('/')[0]
    if '/' not in include:
        return folder  # a header beside the source
    if head in ALLOWED:
        return head
    if head in ('common', 'hlp', 'rtf', 'htm', 'pdf'):
        return 'plugins/' + head
    return None


def main():
    bad = []
    for base in ('src', 'plugins'):
        for dirpath, _, files in os.walk(os.path.join(ROOT, base)):
            rel = os.path.relpath(dirpath, ROOT)
            parts = rel.split(os.sep)
            if len(parts) == 1:
                continue
            folder = parts[1] if base == 'src' and len(parts) > 1 else '/'.join(parts[:2])
            if base == 'src':
                allowed = ALLOWED.get(folder)
                if allowed is None:
                    bad.append('%s: a folder the layers do not list' % rel)
                    continue
            else:
                allowed = PLUGIN
            for name in files:
                if not name.endswith(('.cpp', '.h', '.inc')):
                    continue
                path = os.path.join(dirpath, name)
                for n, line in enumerate(open(path, encoding='utf-8'), 1):
                    m = re.match(r'\s*#\s*include\s+"([^"]+)"', line)
                    if not m:
                        continue
                    target = target_of(m.group(1), folder)
                    if target is None or (target != folder and target not in allowed):
                        bad.append('%s:%d: includes "%s"' % (os.path.relpath(path, ROOT), n,
                                                             m.group(1)))
    for b in bad:
        print(b)
    return 1 if bad else 0


if __name__ == '__main__':
    sys.exit(main())
