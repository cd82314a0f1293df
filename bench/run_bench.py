#!/usr/bin/env python3
"""Times scvcmd against the peer tools, side by side, and prints medians and ratios.

Cases come from bench/<topic>.cases, one per line, tab-separated:
    input  <TAB>  scvcmd flags or "-"  <TAB>  peer label or "-"  <TAB>  peer command ({} = input)
$SHARED in the input stands for the shared folder beside the checkout; inputs may be globs.
$NPM in a peer command stands for the folder the npm peers (bench/*.npm) are installed in.
Each input is timed with hyperfine (several runs, output discarded); the ratio is
peer median / scvcmd median, so a ratio above 1 means scvcmd is faster.
"""
import glob, json, os, shlex, statistics, subprocess, sys, tempfile

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
