"""Converting a collection on a Dask cluster (Debian package python3-distributed).

On one machine:

    from dask.distributed import Client, LocalCluster
    import scv.cluster
    with LocalCluster(n_workers=4, threads_per_worker=1) as cluster, Client(cluster) as client:
        records = scv.cluster.convert_collection(client, "/archive", "/texts")

On several hosts that see the same paths (NFS and the like), start a scheduler on one and
workers on all, each worker with one thread (a process converts one document at a time):

    dask-scheduler                                        # on the scheduler host, port 8786
    dask-worker tcp://scheduler:8786 --nworkers 4 --nthreads 1    # on every host

and give the client the scheduler's address: Client("tcp://scheduler:8786"). Each worker
needs libscv (the package libscv3, or SCV_LIBRARY in its environment) and this package.

The outputs, their names and the resumption are those of ``python3 -m scv.bulk``: the
documents are found and the finished texts skipped on the client; each task converts a few
documents and writes their texts, and only the records travel back.
"""

from __future__ import annotations

import os
from typing import Any, List, Optional, Sequence

from scv.bulk import Record, convert_one, find_documents, target_of


def _convert_many(relatives: Sequence[str], source: str, destination: str, codepage: int,
                  special: int, all_text: bool = False) -> List[Record]:
    """One task: converts its documents in turn in the worker's process."""
    return [convert_one(source, destination, r, codepage, special, all_text) for r in relatives]


def pending_documents(source: str, destination: str) -> List[str]:
    """The supported documents under source whose text is not under destination yet."""
    return [r for r in find_documents(source, destination)
            if not os.path.lexists(target_of(destination, r))]


def convert_collection(client: Any, source: str, destination: str, codepage: int = 65001,
                       special: int = 0, files_per_task: int = 4,
                       documents: Optional[Sequence[str]] = None,
                       all_text: bool = False) -> List[Record]:
    """Converts the documents under source into destination on the client's cluster.

    documents: relative paths to convert (default: every pending one). Returns one record per
    document converted, in the order of the documents. The paths must mean the same on the
    client and on every worker. all_text converts every story of Office Open XML packages.
    """
    import dask.bag as db

    source = os.path.abspath(source)
    destination = os.path.abspath(destination)
    os.makedirs(destination, exist_ok=True)
    todo = list(documents) if documents is not None else pending_documents(source, destination)
    if not todo:
        return []
    partitions = max(1, (len(todo) + files_per_task - 1) // files_per_task)
    bag = db.from_sequence(todo, npartitions=partitions)  # type: ignore[attr-defined]
    records = bag.map_partitions(_convert_many, source, destination, codepage, special,
                                 all_text)
    return list(client.compute(records).result())
