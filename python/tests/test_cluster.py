"""The corpus converted on a Dask cluster of two processes, checked against the command line."""

from __future__ import annotations

from pathlib import Path

import pytest

import scv.cluster
from conftest import CliRun

distributed = pytest.importorskip("distributed")


def test_local_cluster_gives_the_command_lines_outputs(corpus: Path, cli_outputs: CliRun,
                                                       tmp_path: Path) -> None:
    destination = tmp_path / "texts"
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                  dashboard_address=None) as cluster, \
            distributed.Client(cluster) as client:
        records = scv.cluster.convert_collection(client, str(corpus), str(destination))
        assert len({r.path for r in records}) == len(records)
        cli_outputs.check(destination, {r.path: r.result for r in records})
        # Run again: only the failed documents are pending, and nothing is converted twice.
        failed = sorted(p for p, code in cli_outputs.results.items() if code != 0)
        assert scv.cluster.pending_documents(str(corpus), str(destination)) == failed
        again = scv.cluster.convert_collection(client, str(corpus), str(destination),
                                               documents=failed[:3])
        assert [(r.path, r.result) for r in again] == [(p, cli_outputs.results[p])
                                                       for p in failed[:3]]
