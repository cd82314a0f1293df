#!/usr/bin/env python3
"""Times scvcmd against the peer tools, side by side, and prints medians and ratios.

Cases come from bench/<topic>.cases, one per line, tab-separated:
    input  <TAB>  scvcmd flags or "-"  <TAB>  peer label or "-"  <TAB>  peer command ({} = input)
$SHARED in the input stands for the shared folder beside the checkout; inputs may be globs.
$NPM in a peer command stands for the folder the npm peers (bench/*.npm) are installed in.
Each input is timed with hyperfine (several runs, output discarded); the ratio is
peer median / scvcmd median, so a ratio above 1 means scvcmd is faster.

The topic "corpus" converts every file of each folder of $SHARED/corpus one process per file,
by scvcmd and by each peer of bench/corpus.peers for that folder, and reports files per second
against the fastest peer: start-up and small-file costs, which the large inputs hide.
"""
import glob, json, os, shlex, shutil, statistics, subprocess, sys, tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SHARED = os.path.normpath(os.path.join(ROOT, '..', 'shared'))
NPM = os.environ.get('BENCH_NPM', os.path.join(ROOT, 'build', 'bench-npm'))


def load_cases(topics):
    cases = []
    for path in sorted(glob.glob(os.path.join(ROOT, 'bench', '*.cases'))):
        topic = os.path.splitext(os.path.basename(path))[0]
        if topics and topic not in topics:
            continue
        with open(path, encoding='utf-8') as f:
            for line in f:
                line = line.rstrip('\n')
                if not line.strip() or line.lstrip().startswith('#'):
                    continue
                parts = line.split('\t')
                while len(parts) < 4:
                    parts.append('-')
                pattern = parts[0].replace('$SHARED', SHARED)
                inputs = sorted(glob.glob(pattern)) or [pattern]
                for inp in inputs:
                    cases.append((topic, inp, parts[1].strip(), parts[2].strip(), parts[3].strip()))
    return cases


def hyperfine(commands, runs):
    # Peers may write files (pictures, temporary copies) into their working folder: give them
    # a scratch one.
    with tempfile.NamedTemporaryFile(suffix='.json') as out, tempfile.TemporaryDirectory() as cwd:
        args = ['hyperfine', '--runs', str(runs), '--warmup', '1', '-N', '-i', '--style', 'none',
                '--export-json', out.name] + commands
        subprocess.run(args, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=False,
                       cwd=cwd)
        try:
            data = json.load(open(out.name))
        except (ValueError, OSError):
            return [None] * len(commands)
    return [statistics.median(r['times']) if r.get('times') else None for r in data['results']]


def load_corpus_peers():
    peers = {}
    with open(os.path.join(ROOT, 'bench', 'corpus.peers'), encoding='utf-8') as f:
        for line in f:
            line = line.rstrip('\n')
            if not line.strip() or line.lstrip().startswith('#'):
                continue
            folder, label, command = line.split('\t')
            peers.setdefault(folder, []).append((label, command))
    return peers


def corpus_loop(template, listing):
    # One process per file, the file names read from a list so that none is re-quoted; the
    # shell's own cost per file is the same for scvcmd and the peers.
    body = template.replace('{}', '"$f"')
    return "sh -c %s" % shlex.quote(
        'while IFS= read -r f; do %s >/dev/null 2>&1 </dev/null; done < %s' %
        (body, shlex.quote(listing)))


def corpus_rows(scvcmd, runs):
    rows = []
    peers = load_corpus_peers()
    corpus = os.path.join(SHARED, 'corpus')
    for folder in sorted(os.listdir(corpus)):
        files = sorted(p for p in glob.glob(os.path.join(corpus, folder, '*')) if os.path.isfile(p))
        if not files:
            continue
        with tempfile.NamedTemporaryFile('w', suffix='.list', delete=False) as listing:
            listing.write(''.join(p + '\n' for p in files))
        commands = [corpus_loop(shlex.quote(scvcmd) + ' -c65001 {} "*"', listing.name)]
        labels = []
        for label, command in peers.get(folder, []):
            if shutil.which(shlex.split(command)[0]):
                commands.append(corpus_loop(command, listing.name))
                labels.append(label)
        times = hyperfine(commands, runs)
        os.unlink(listing.name)
        best = None
        for label, t in zip(labels, times[1:]):
            if t is not None and (best is None or t < best[1]):
                best = (label, t)
        rows.append((folder, len(files), times[0], best))
    return rows


def print_corpus(rows):
    print('%-8s %6s %14s  %-12s %14s %8s' % ('folder', 'files', 'scvcmd files/s', 'fastest peer',
                                            'peer files/s', 'ratio'))
    for folder, count, ours, best in rows:
        rate = '-' if not ours else '%.0f' % (count / ours)
        label, theirs = best if best else ('-', None)
        peer_rate = '-' if not theirs else '%.0f' % (count / theirs)
        ratio = '-' if not ours or not theirs else '%.1fx' % (theirs / ours)
        print('%-8s %6d %14s  %-12s %14s %8s' % (folder, count, rate, label, peer_rate, ratio))


def fmt(seconds):
    return '-' if seconds is None else '%.1f' % (seconds * 1000)


def main():
    runs = int(os.environ.get('BENCH_RUNS', '5'))
    scvcmd = os.path.abspath(
        os.environ.get('SCVCMD', os.path.join(ROOT, 'build', 'release', 'bin', 'scvcmd')))
    topics = sys.argv[1:]
    rows = []
    # Start-up cost: no arguments, and a document without text.
    if not topics or 'startup' in topics:
        empty = tempfile.NamedTemporaryFile(suffix='.rtf', delete=False)
        empty.write(b'{\\rtf1}')
        empty.close()
        t = hyperfine([scvcmd, '%s %s *' % (scvcmd, empty.name)], max(runs, 20))
        rows.append(('startup', '(no arguments)', t[0], '-', None))
        rows.append(('startup', '(empty document)', t[1], '-', None))
        os.unlink(empty.name)
    if 'corpus' in topics:
        print_corpus(corpus_rows(scvcmd, runs))
        topics = [t for t in topics if t != 'corpus']
        if not topics:
            return
    only = os.environ.get('BENCH_FILTER', '')
    for topic, inp, flags, label, peer in load_cases(topics):
        if only and only not in inp:
            continue
        cmd = [scvcmd] + ([] if flags in ('', '-') else shlex.split(flags)) + [inp, '*']
        commands = [' '.join(shlex.quote(c) for c in cmd)]
        if label != '-' and peer != '-':
            commands.append(peer.replace('$NPM', NPM).replace('{}', shlex.quote(inp)))
        t = hyperfine(commands, runs)
        rows.append((topic, os.path.relpath(inp, SHARED) if inp.startswith(SHARED) else inp,
                     t[0], label, t[1] if len(t) > 1 else None))
    print('%-8s %-58s %10s  %-14s %10s %8s' % ('topic', 'input', 'scvcmd ms', 'peer', 'peer ms',
                                              'ratio'))
    for topic, inp, ours, label, theirs in rows:
        ratio = '-' if not ours or not theirs else '%.1fx' % (theirs / ours)
        print('%-8s %-58s %10s  %-14s %10s %8s' % (topic, inp[-58:], fmt(ours), label, fmt(theirs),
                                                  ratio))


if __name__ == '__main__':
    main()
