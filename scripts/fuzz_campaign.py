#!/usr/bin/env python3
"""Runs libFuzzer targets until each has spent a budget of CPU time, a few at a time.

Reads one target per line on standard input: the name, then the fuzzer's command line, all
separated by tabs. The fuzzers run at the lowest scheduling priority, so a campaign can share
the machine with builds, and each one is stopped with SIGINT (libFuzzer then prints its final
statistics) once its CPU time reaches what is left of the budget. CPU time, executions and the
latest coverage are kept in a ledger, so a campaign interrupted or split over several sittings
resumes where it stopped; the working corpora live next to the ledger.

Usage: fuzz_campaign.py LEDGER CPU_SECONDS JOBS LOG_DIR < targets
"""
import json
import os
import re
import signal
import subprocess
import sys
import time

CLOCK_TICKS = os.sysconf("SC_CLK_TCK")
COVERAGE = re.compile(r"cov: (\d+) ft: (\d+) corp: (\d+)/")
EXECUTED = re.compile(r"^stat::number_of_executed_units: (\d+)", re.M)
FINDING = re.compile(r"artifact_prefix='[^']*'; Test unit written to (\S+)")


def cpu_seconds(pid):
    """CPU time (user + system) of a running process, or None once it is gone."""
    try:
        with open(f"/proc/{pid}/stat") as f:
            fields = f.read().rsplit(")", 1)[1].split()
        return (int(fields[11]) + int(fields[12])) / CLOCK_TICKS
    except (OSError, IndexError, ValueError):
        return None


def load(path):
    try:
        with open(path) as f:
            return json.load(f)
    except (OSError, ValueError):
        return {}


def save(path, ledger):
    tmp = path + ".tmp"
    with open(tmp, "w") as f:
        json.dump(ledger, f, indent=1, sort_keys=True)
    os.replace(tmp, path)


def summarise(entry, log_path):
    """Folds one run's log into the target's ledger entry."""
    try:
        with open(log_path, errors="replace") as f:
            text = f.read()
    except OSError:
        return
    executed = EXECUTED.search(text)
    if executed:
        entry["execs"] = entry.get("execs", 0) + int(executed.group(1))
    last = None
    for last in COVERAGE.finditer(text):
        pass
    if last:
        entry["cov"], entry["ft"], entry["corpus"] = (int(g) for g in last.groups())
    found = FINDING.findall(text)
    if found:
        entry.setdefault("findings", []).extend(found)


def main():
    ledger_path, budget, jobs, log_dir = sys.argv[1], float(sys.argv[2]), int(sys.argv[3]), sys.argv[4]
    os.makedirs(log_dir, exist_ok=True)
    ledger = load(ledger_path)
    queue = []
    for line in sys.stdin:
        parts = line.rstrip("\n").split("\t")
        if len(parts) >= 2:
            queue.append((parts[0], parts[1:]))

    running = {}  # pid -> (name, process, cpu spent before this run, log path)
    # SIGTERM or SIGINT end the campaign cleanly: the fuzzers running are interrupted and their
    # time is recorded before the driver exits.
    stopping = []
    def stop(signum, frame):
        stopping.append(signum)
        for _, process, _, _ in running.values():
            try:
                process.send_signal(signal.SIGINT)
            except OSError:
                pass
    signal.signal(signal.SIGTERM, stop)
    signal.signal(signal.SIGINT, stop)
    while queue or running:
        if stopping:
            queue.clear()
        while queue and len(running) < jobs:
            name, command = queue.pop(0)
            spent = ledger.get(name, {}).get("cpu", 0.0)
            if spent >= budget:
                continue
            log_path = os.path.join(log_dir, f"{name}.{int(time.time())}.log")
            log = open(log_path, "w")
            process = subprocess.Popen(command, stdout=log, stderr=subprocess.STDOUT,
                                       preexec_fn=lambda: os.nice(19))
            log.close()
            running[process.pid] = (name, process, spent, log_path)
            print(f"{name}: started with {spent:.0f} of {budget:.0f} CPU seconds spent", flush=True)
        time.sleep(2)
        for pid, (name, process, spent, log_path) in list(running.items()):
            done, status, usage = os.wait4(pid, os.WNOHANG)
            if done == 0:
                now = cpu_seconds(pid)
                if now is not None and spent + now >= budget:
                    process.send_signal(signal.SIGINT)
                continue
            del running[pid]
            # Entries other runs wrote meanwhile are kept: only this target's entry changes.
            ledger = {**load(ledger_path), name: ledger.get(name, {})}
            entry = ledger.setdefault(name, {})
            entry["cpu"] = round(spent + usage.ru_utime + usage.ru_stime, 1)
            entry["runs"] = entry.get("runs", 0) + 1
            summarise(entry, log_path)
            save(ledger_path, ledger)
            code = os.waitstatus_to_exitcode(status)
            # 72 is libFuzzer's exit code after SIGINT: the budget ran out.
            outcome = "budget spent" if code in (0, 72) else f"stopped with {code}, see {log_path}"
            print(f"{name}: {outcome}; {entry['cpu']:.0f} CPU s, {entry.get('execs', 0)} execs, "
                  f"cov {entry.get('cov', '?')} ft {entry.get('ft', '?')}", flush=True)

    ledger = load(ledger_path)
    print("target\tCPU s\texecs\tcov\tft\tcorpus\tfindings")
    for name in sorted(ledger):
        e = ledger[name]
        print(f"{name}\t{e.get('cpu', 0):.0f}\t{e.get('execs', 0)}\t{e.get('cov', '')}\t"
              f"{e.get('ft', '')}\t{e.get('corpus', '')}\t{len(e.get('findings', []))}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
