"""``velkorant convert --ray``: the conversion on a Ray cluster, Ray Data reading the record files
and writing Parquet shards (``pip install "velkorant[cluster]"``).

The shards hold the rows of a local ``.parquet`` conversion, in no particular order: sort by
``game_id`` and ``ply`` to get that order back. Each worker reports its bad records to a tally
that the summary reads.
"""

from __future__ import annotations

import os
import sys
from collections.abc import Sequence
from typing import Any

from velkorant import convert as _convert


def _tally_class() -> Any:
    import ray  # type: ignore[import-untyped, import-not-found, unused-ignore]

    @ray.remote(num_cpus=0)
    class Tally:
        """The summary of the files converted so far."""

        def __init__(self) -> None:
            self.summary = _convert.Summary()

        def add(self, parts: list[_convert.FileRows], positions: int) -> None:
            for part in parts:
                self.summary.add(part)
            self.summary.positions += positions

        def get(self) -> _convert.Summary:
            return self.summary

    return Tally


def convert(inputs: Sequence[str], output: str, *, options: _convert.Options = _convert.Options(),
            address: str | None = None, dedup: bool = False, files_per_batch: int = 4) -> _convert.Summary:
    """Converts the record files of ``inputs`` into Parquet shards in the folder ``output`` on Ray
    (connected to ``address``, or the cluster ``ray.init()`` finds or starts; a session already
    initialised is used as it is). Every node must reach the input paths (a shared file system
    or object store that pyarrow reads)."""
    if dedup:
        raise ValueError("--dedup needs every position in one place: convert locally, or dedup the shards afterwards")
    import pyarrow as pa  # type: ignore[import-untyped, import-not-found, unused-ignore]
    import ray  # type: ignore[import-untyped, import-not-found, unused-ignore]
    import ray.data  # type: ignore[import-untyped, import-not-found, unused-ignore]

    paths = _convert.expand_inputs(inputs)
    if not paths:
        return _convert.Summary()
    if not ray.is_initialized():
        ray.init(address=address, log_to_driver=True)
    numbers = {os.path.abspath(p): i for i, p in enumerate(paths)}
    hcpe = _convert.Options("hcpe", options.format, options.encoding, options.min_moves, options.min_rating,
                            options.endings)
    tally = _tally_class().remote()

    def rows(batch: dict[str, Any]) -> Any:
        parts, tables = [], []
        for data, path in zip(batch["bytes"], batch["path"]):
            name = os.path.abspath(str(path))
            part = _convert.rows_of_bytes(bytes(data), name, hcpe)
            for line, why in part.bad:
                print(f"{name}:{line}: {why}", file=sys.stderr)
            tables.append(_convert.parquet_table(part, None, numbers[name] << _convert._GAME_SHIFT))
            part.rows = part.plies = part.games = b""  # the tally needs only the counts
            parts.append(part)
        table = pa.concat_tables(tables)
        ray.get(tally.add.remote(parts, table.num_rows))
        return table

    dataset = ray.data.read_binary_files([os.path.abspath(p) for p in paths], include_paths=True)
    dataset = dataset.map_batches(rows, batch_size=files_per_batch, batch_format="numpy")
    dataset.write_parquet(os.path.abspath(output))
    summary: _convert.Summary = ray.get(tally.get.remote())
    return summary
