"""The native network inputs and move labels of velkorant.data."""

from collections.abc import Sequence

import numpy as np
import numpy.typing as npt

def features(sfen: str, out1: npt.NDArray[np.float32], out2: npt.NDArray[np.float32], /) -> None:
    """Both plane sets of a position, written into float32 buffers."""

def features_sfens(sfens: Sequence[str], out1: npt.NDArray[np.float32], out2: npt.NDArray[np.float32],
                   threads: int, /) -> None:
    """Both plane sets of every SFEN, on several threads."""

def features_hcps(hcps: npt.NDArray[np.uint8], out1: npt.NDArray[np.float32], out2: npt.NDArray[np.float32],
                  threads: int, /) -> None:
    """Both plane sets of every packed position (32 bytes each), on several threads."""

def labels_hcpe(hcps: npt.NDArray[np.uint8], moves16: npt.NDArray[np.uint16], out: npt.NDArray[np.int64],
                threads: int, /) -> None:
    """The label of each position's hcpe move word, into an int64 buffer."""

def labels_sfens(sfens: Sequence[str], moves: Sequence[str], out: npt.NDArray[np.int64], threads: int, /) -> None:
    """The label of a legal USI move of each SFEN, into an int64 buffer."""

def move_label(sfen: str, word: int, /) -> int:
    """The label of a legal move, given by its move word."""

def legal_labels(sfen: str, /) -> bytearray:
    """The labels of the legal moves, as int64 bytes."""

def legal_mask(sfen: str, out: npt.NDArray[np.bool_], /) -> None:
    """Which labels are those of legal moves, into a bool buffer."""
