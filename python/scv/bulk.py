"""Converting a collection: every supported file under SRC into DST, in worker processes.

    python3 -m scv.bulk SRC DST [-j N] [--codepage 65001] [--special 0] [--all-text]
                              [--report FILE]

Each document SRC/<path> gives DST/<path>.txt, the bytes scvcmd writes for it. A text is
written to a temporary file beside its destination and moved into place only when complete,
and never over a file that is already there, so an interrupted run leaves no partial text and
running the command again converts only what is missing. At the end a summary by result is
printed, and a JSON-lines report (DST/scv-report.jsonl unless --report says otherwise) holds
one line per file: path, result (the command line's run result), message, bytes, ms.

Exit status: 0 when every file is converted or was already there, 1 when some failed,
2 for a rejected command line, 3 when libscv cannot be loaded, 130 when interrupted.
"""

from __future__ import annotations

import argparse
import errno
import functools
import json
import multiprocessing
import multiprocessing.connection
import os
import signal
import sys
import time
from collections import Counter, deque
from dataclasses import asdict, dataclass
from typing import IO, Any, Callable, Deque, Dict, Iterator, List, Optional, Sequence, Tuple, cast

import scv

REPORT_NAME = "scv-report.jsonl"
SUFFIX = ".txt"


@dataclass
class Record:
    """The outcome of one document: what the report holds per line."""

    path: str      # relative to SRC
    result: int    # the command line's run result: 0 converted, 1 already there, < 0 failed
    message: str
    bytes: int     # size of the text written (or found), 0 on failure
    ms: float      # time of the conversion and the write


def target_of(destination: str, relative: str) -> str:
    """The text file of a document: the same relative path under destination, plus .txt."""
    return os.path.join(destination, relative + SUFFIX)


def find_documents(source: str, destination: str) -> List[str]:
    """The supported documents under source, relative to it, in a stable (sorted) order.

    A destination inside source is not searched, so texts and reports never count as input.
    """
    source = os.path.abspath(source)
    skip = os.path.abspath(destination)
    found: List[str] = []
    for folder, subfolders, files in os.walk(source):
        subfolders[:] = sorted(d for d in subfolders
                               if os.path.join(folder, d) != skip or skip == source)
        for name in sorted(files):
            path = os.path.join(folder, name)
            if scv.is_supported(name) and os.path.isfile(path):
                found.append(os.path.relpath(path, source))
    return found


def _flush(fd: int) -> None:
    """Puts the data on the device, so that a crash after the move leaves no empty text."""
    try:
        os.fdatasync(fd)
    except OSError as error:
        if error.errno != errno.EINVAL:  # the file system has no such operation
            raise


def write_new_file(path: str, data: bytes) -> int:
    """Writes data to path unless path exists; returns OK, EXISTS, E_CREATE or E_WRITE.

    The bytes go to a hidden temporary file beside path (created exclusively, with the mode a
    direct create would give) and are linked into place only when written and flushed; the link
    refuses a file that appeared meanwhile. Without hard links the file is created exclusively
    in place and removed again if the write fails.
    """
    folder = os.path.dirname(path) or "."
    try:
        os.makedirs(folder, exist_ok=True)
    except OSError:
        return scv.E_CREATE
    if os.path.lexists(path):
        return scv.EXISTS
    temporary = os.path.join(folder, f".{os.path.basename(path)[:100]}.{os.getpid()}"
                                     f".{time.monotonic_ns():x}.tmp")
    try:
        fd = os.open(temporary, os.O_WRONLY | os.O_CREAT | os.O_EXCL, 0o666)
    except OSError:
        return scv.E_CREATE
    try:
        try:
            with os.fdopen(fd, "wb") as file:
                file.write(data)
                file.flush()
                _flush(file.fileno())
        except OSError:
            return scv.E_WRITE
        try:
            os.link(temporary, path)
            return scv.OK
        except FileExistsError:
            return scv.EXISTS
        except OSError:
            pass  # no hard links here (FAT and the like)
    finally:
        try:
            os.unlink(temporary)
        except FileNotFoundError:
            pass
    return _write_exclusively(path, data)


def _write_exclusively(path: str, data: bytes) -> int:
    """The write in place for file systems without hard links."""
    try:
        fd = os.open(path, os.O_WRONLY | os.O_CREAT | os.O_EXCL, 0o666)
    except FileExistsError:
        return scv.EXISTS
    except OSError:
        return scv.E_CREATE
    try:
        with os.fdopen(fd, "wb") as file:
            file.write(data)
            file.flush()
            _flush(file.fileno())
        return scv.OK
    except OSError:
        os.unlink(path)
        return scv.E_WRITE


def convert_one(source: str, destination: str, relative: str, codepage: int = 65001,
                special: int = 0, all_text: bool = False) -> Record:
    """Converts source/relative into its text file under destination (see write_new_file)."""
    started = time.perf_counter()
    target = target_of(destination, relative)
    size = 0
    if os.path.lexists(target):
        code = scv.EXISTS
        size = _size_of(target)
    else:
        try:
            data = scv.convert(os.path.join(source, relative), None, codepage, special,
                               all_text=all_text)
            code = write_new_file(target, data)
            size = len(data) if code == scv.OK else _size_of(target) if code == scv.EXISTS else 0
        except scv.ConversionError as error:
            code = error.code
    elapsed = (time.perf_counter() - started) * 1000.0
    return Record(relative, code, scv.result_message(code), size, round(elapsed, 3))


Converter = Callable[[str, str, str, int, int], Record]


def _size_of(path: str) -> int:
    """The size of a file that exists, 0 when it cannot be read."""
    try:
        return os.path.getsize(path)
    except OSError:
        return 0


# The worker processes. Each takes one document at a time from its pipe, so that a slow
# document holds back only its own worker, and a worker that dies (a crash in a converter)
# costs only the document it was converting: it is reported and the worker replaced.

def _serve(connection: multiprocessing.connection.Connection, convert: Converter, source: str,
           destination: str, codepage: int, special: int) -> None:
    """A worker's loop: (index, relative path) in, (index, record) out, until None."""
    signal.signal(signal.SIGINT, signal.SIG_IGN)  # the parent decides when to stop
    while True:
        try:
            job = connection.recv()
        except EOFError:  # the parent has gone
            return
        if job is None:
            return
        index, relative = job
        connection.send((index, convert(source, destination, relative, codepage, special)))


class _Worker:
    """One worker process and the document it is converting."""

    def __init__(self, context: Any, arguments: Tuple[Any, ...]) -> None:
        """Starts the process."""
        self.connection, child = context.Pipe()
        self.process = context.Process(target=_serve, args=(child, *arguments), daemon=True)
        self.process.start()
        child.close()
        self.job: Optional[Tuple[int, str]] = None

    def give(self, job: Tuple[int, str]) -> None:
        """Sends one document."""
        self.job = job
        self.connection.send(job)

    def stop(self) -> None:
        """Asks the process to end and waits for it."""
        try:
            self.connection.send(None)
        except OSError:
            pass
        self.process.join(10)
        if self.process.is_alive():
            self.process.kill()
            self.process.join()
        self.connection.close()


def _context() -> Any:
    """forkserver where the system has it: safe with threads in the parent, cheap to start."""
    methods = multiprocessing.get_all_start_methods()
    return multiprocessing.get_context("forkserver" if "forkserver" in methods else "spawn")


def run_workers(source: str, destination: str, documents: Sequence[str], jobs: int,
                codepage: int = 65001, special: int = 0,
                convert: Converter = convert_one, all_text: bool = False) -> Iterator[Record]:
    """Converts the documents in jobs worker processes; yields each record as it finishes.

    convert is what a worker does with one document (a module-level function, so that the
    worker processes can import it). all_text is passed to it as a keyword when set.
    """
    if not documents:
        return
    if all_text:
        convert = functools.partial(convert, all_text=True)
    context = _context()
    arguments = (convert, source, destination, codepage, special)
    pending: Deque[Tuple[int, str]] = deque(enumerate(documents))
    workers = [_Worker(context, arguments) for _ in range(max(1, min(jobs, len(documents))))]
    busy: Dict[Any, _Worker] = {}
    try:
        while pending or busy:
            for index, worker in enumerate(workers):
                if worker.job is None and pending:
                    job = pending.popleft()
                    try:
                        worker.give(job)
                    except OSError:  # the process has ended since its last document
                        pending.appendleft(job)
                        worker.job = None
                        workers[index] = _replace(worker, context, arguments)
                        continue
                    busy[worker.connection] = worker
                    busy[worker.process.sentinel] = worker
            ready = multiprocessing.connection.wait(list(busy))
            for worker in {busy[r] for r in ready if r in busy}:
                record = _receive(worker)
                del busy[worker.connection], busy[worker.process.sentinel]
                if record is None:  # the process died with the document
                    yield _crashed(worker)
                else:
                    yield record
                worker.job = None
                if record is None or worker.process.sentinel in ready:
                    workers[workers.index(worker)] = _replace(worker, context, arguments)
    finally:
        for worker in workers:
            if worker.process.is_alive() and worker.job is not None:
                worker.process.kill()
            worker.stop()


def _replace(worker: _Worker, context: Any, arguments: Tuple[Any, ...]) -> _Worker:
    """A new worker in place of one whose process has ended."""
    worker.process.join(5)
    worker.connection.close()
    return _Worker(context, arguments)


def _receive(worker: _Worker) -> Optional[Record]:
    """The worker's record, or None when its process ended without sending one."""
    try:
        if worker.connection.poll():
            _, record = worker.connection.recv()
            return cast(Record, record)
    except (EOFError, OSError):
        pass
    worker.process.join(5)  # the process has ended (its pipe closed, its sentinel fired)
    return None


def _crashed(worker: _Worker) -> Record:
    """The record of a document whose worker died: a damaged document, as the library says."""
    assert worker.job is not None
    status = worker.process.exitcode
    how = f"signal {-status}" if status is not None and status < 0 else f"status {status}"
    message = f"{scv.result_message(scv.E_FORMAT)} (the worker ended by {how})"
    return Record(worker.job[1], scv.E_FORMAT, message, 0, 0.0)


class PlainProgress:
    """A counter with files per second on one line, for terminals without tqdm and for logs."""

    def __init__(self, total: int, stream: IO[str], interval: float = 1.0) -> None:
        """Counts towards total, writing to stream at most once per interval seconds."""
        self.total = total
        self.stream = stream
        self.interval = interval if stream.isatty() else max(interval, 5.0)
        self.done = 0
        self.started = time.monotonic()
        # Never shown: the first update shows the line whatever the clock reads (the monotonic
        # clock counts from boot, so a machine up for less than an interval would hide it).
        self.shown = float("-inf")

    def update(self, count: int = 1) -> None:
        """Counts finished files and shows the line when it is due."""
        self.done += count
        now = time.monotonic()
        if now - self.shown >= self.interval or self.done == self.total:
            self.shown = now
            self._show(now)

    def _show(self, now: float) -> None:
        elapsed = max(now - self.started, 1e-9)
        end = "\r" if self.stream.isatty() and self.done < self.total else "\n"
        rate = self.done / elapsed
        self.stream.write(f"{self.done}/{self.total} files, {rate:.1f} files/s{end}")
        self.stream.flush()

    def close(self) -> None:
        """Ends the line."""
        if self.done < self.total:
            self._show(time.monotonic())
            if self.stream.isatty():
                self.stream.write("\n")


def make_progress(total: int, kind: str, stream: IO[str]) -> Any:
    """A progress display: tqdm when asked or available ("auto"), the plain counter, or none."""
    if kind in ("auto", "tqdm"):
        try:
            from tqdm import tqdm
            return tqdm(total=total, unit="file", file=stream, smoothing=0.1, dynamic_ncols=True)
        except ImportError:
            if kind == "tqdm":
                raise
    if kind == "none":
        return None
    return PlainProgress(total, stream)


def summarize(records: Sequence[Record], elapsed: float, processed: int) -> str:
    """The closing summary: the rate of the files processed in this run, then counts by result."""
    counts = Counter((r.result, scv.result_message(r.result)) for r in records)
    rate = processed / elapsed if elapsed > 0 else 0.0
    lines = [f"{len(records)} files: {processed} processed in {elapsed:.2f} s "
             f"({rate:.1f} files/s), {len(records) - processed} already there"]
    for (code, message), count in sorted(counts.items(), key=lambda item: (-item[1], item[0])):
        lines.append(f"  {count:7d}  {code:4d}  {message}")
    return "\n".join(lines)


def parse_arguments(argv: Optional[Sequence[str]]) -> argparse.Namespace:
    """The command line."""
    parser = argparse.ArgumentParser(
        prog="python3 -m scv.bulk",
        description="Converts every supported document under SRC into DST/<path>.txt.")
    parser.add_argument("source", metavar="SRC", help="folder of the documents")
    parser.add_argument("destination", metavar="DST", help="folder of the texts")
    parser.add_argument("-j", "--jobs", type=int, default=os.cpu_count() or 1,
                        help="worker processes (default: the number of processors)")
    parser.add_argument("-c", "--codepage", type=int, default=65001,
                        help="code page of the texts (default 65001, UTF-8)")
    parser.add_argument("-s", "--special", type=int, default=0,
                        help="special format: PDF layout, DOC raw characters (default 0)")
    parser.add_argument("--all-text", action="store_true",
                        help="every story of Office Open XML packages (scvcmd --all-text)")
    parser.add_argument("--report", help=f"JSON-lines report (default DST/{REPORT_NAME})")
    parser.add_argument("--progress", choices=("auto", "tqdm", "plain", "none"), default="auto",
                        help="progress display (auto: tqdm when installed, else plain)")
    arguments = parser.parse_args(argv)
    if arguments.jobs < 1:
        parser.error("-j needs at least 1 worker")
    if not os.path.isdir(arguments.source):
        parser.error(f"{arguments.source} is not a folder")
    return arguments


def main(argv: Optional[Sequence[str]] = None) -> int:
    """Runs the command line; returns the exit status."""
    arguments = parse_arguments(argv)
    source = os.path.abspath(arguments.source)
    destination = os.path.abspath(arguments.destination)
    os.makedirs(destination, exist_ok=True)
    started = time.monotonic()
    try:
        documents = find_documents(source, destination)
    except scv.LibraryNotFoundError as error:
        print(f"scv.bulk: {error}", file=sys.stderr)
        return 3
    records: List[Record] = []
    todo: List[str] = []
    for relative in documents:
        target = target_of(destination, relative)
        if os.path.lexists(target):
            records.append(Record(relative, scv.EXISTS, scv.result_message(scv.EXISTS),
                                  _size_of(target), 0.0))
        else:
            todo.append(relative)
    report_path = arguments.report or os.path.join(destination, REPORT_NAME)
    progress = make_progress(len(todo), arguments.progress, sys.stderr) if todo else None
    converting = time.monotonic()
    with open(report_path, "w", encoding="utf-8") as report:
        for record in records:
            report.write(json.dumps(asdict(record)) + "\n")
        try:
            for record in run_workers(source, destination, todo, arguments.jobs,
                                      arguments.codepage, arguments.special,
                                      all_text=arguments.all_text):
                records.append(record)
                report.write(json.dumps(asdict(record)) + "\n")
                if progress is not None:
                    progress.update(1)
        except KeyboardInterrupt:
            print("interrupted: run the same command again to convert the rest", file=sys.stderr)
            return 130
        finally:
            if progress is not None:
                progress.close()
    elapsed = time.monotonic() - converting
    print(summarize(records, elapsed, len(todo)))
    print(f"report: {report_path} ({time.monotonic() - started:.2f} s in all)")
    failed = any(r.result not in (scv.OK, scv.EXISTS) for r in records)
    return 1 if failed else 0


if __name__ == "__main__":
    # Run through the module's own name, so that the worker processes find its functions.
    from scv import bulk as _bulk

    sys.exit(_bulk.main())
