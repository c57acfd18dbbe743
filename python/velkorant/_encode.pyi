"""Training examples from SFENs and USI moves in one native pass, under velkorant.data.encode_batch."""

from collections.abc import Sequence

import numpy as np
import numpy.typing as npt

def encode(sfens: Sequence[str], moves: Sequence[str], packing: str, packed: npt.NDArray[np.void],
           out1: npt.NDArray[np.float32], out2: npt.NDArray[np.float32], labels: npt.NDArray[np.int64],
           threads: int, /) -> None:
    """The packing, both plane sets and the move's label of every position, in one pass."""
