"""The native games of velkorant.env."""

from typing import SupportsIndex, final

import numpy as np
import numpy.typing as npt

@final
class Env:
    """Games stepped natively, made by new_env."""

def new_env(num_envs: SupportsIndex, max_plies: SupportsIndex, declaration: bool, /) -> Env:
    """Games at the initial position, stepped natively."""

def reset(env: Env, features: npt.NDArray[np.uint8], mask: npt.NDArray[np.bool_], turn: npt.NDArray[np.int8],
          threads: int, /) -> None:
    """Every game back to the initial position, observed."""

def step(env: Env, actions: npt.NDArray[np.int64], features: npt.NDArray[np.uint8], mask: npt.NDArray[np.bool_],
         turn: npt.NDArray[np.int8], rewards: npt.NDArray[np.float32], terminated: npt.NDArray[np.bool_],
         truncated: npt.NDArray[np.bool_], final_features: npt.NDArray[np.uint8],
         final_mask: npt.NDArray[np.bool_], final_turn: npt.NDArray[np.int8], threads: int, /) -> int:
    """One move a game, by label; the games that end are started again. Returns how many ended."""

def game_state(env: Env, i: SupportsIndex, /) -> bytes:
    """The state of game i, as Game.__reduce__ gives it."""

def set_game_state(env: Env, i: SupportsIndex, state: bytes, features: npt.NDArray[np.uint8],
                   mask: npt.NDArray[np.bool_], turn: npt.NDArray[np.int8], /) -> None:
    """Replaces game i by the game of a state; its row observed."""

def random_actions(mask: npt.NDArray[np.bool_], uniforms: npt.NDArray[np.float64], out: npt.NDArray[np.int64],
                   /) -> None:
    """A set label of each mask row, picked by a float64 in [0, 1) a row."""

def size(env: Env, /) -> int:
    """How many games."""
