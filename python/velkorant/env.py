"""Many games at once, for self-play and reinforcement learning.

``VecEnv`` steps N games natively, in the manner of Gymnasium's vector environments::

    import numpy as np
    from velkorant import env

    games = env.VecEnv(256, seed=0)
    obs, info = games.reset()
    for _ in range(1000):
        actions = env.random_actions(obs["legal_mask"], games.np_random)
        obs, rewards, terminations, truncations, info = games.step(actions)

An action is a move label (``data.move_label``'s space of 2187). An observation is a dict of
numpy arrays, one row a game: ``"features"`` (N, 119, 9, 9) uint8, the 62 + 57 planes of
``data.features`` as 0 or 1; ``"legal_mask"`` (N, 2187) bool, ``data.legal_mask`` of each game;
``"turn"`` (N,) int8, the side to move (0 Black, 1 White). The observation arrays are the
environment's own and are written again by the next ``reset``, ``step`` or ``set_game``: read
them (or copy them) before that.

Rewards are from the view of the side that has just moved: +1 when its move won the game, -1
when it lost it (the opponent checkmated is a win; a perpetual check of the mover's is a loss),
0 otherwise. A game ends (terminated) by ``Game.outcome()``, or, with ``declaration=True``, when
the side to move can declare a win by the 27-point rule; it is cut short (truncated) once
``max_plies`` moves have been played in it. Either way it starts again at once from the initial
position, the way Gymnasium's "same step" automatic reset does: the observation returned is the
new game's, and ``info["final_obs"]`` holds the observation of the position each game ended in
(its rows valid where ``info["_final_obs"]`` is True).

numpy is this module's one dependency; ``velkorant.rl`` adapts ``VecEnv`` to Gymnasium.
"""

from __future__ import annotations

import operator
from typing import Any, SupportsIndex

import numpy as np
import numpy.typing as npt

from velkorant import _env
from velkorant._core import Game

__all__ = ["VecEnv", "random_actions", "FEATURES_NUM"]

FEATURES_NUM = 119
"""The planes of an observation's ``"features"``: ``data.FEATURES1_NUM`` + ``data.FEATURES2_NUM``."""

_MOVE_LABELS = 2187

Observation = dict[str, npt.NDArray[Any]]


def _observation(n: int) -> Observation:
    return {
        "features": np.zeros((n, FEATURES_NUM, 9, 9), dtype=np.uint8),
        "legal_mask": np.zeros((n, _MOVE_LABELS), dtype=np.bool_),
        "turn": np.zeros(n, dtype=np.int8),
    }


class VecEnv:
    """``num_envs`` games of shogi stepped together by native code, each from the initial
    position.

    ``max_plies`` (at least 1) cuts a game short after that many moves; ``declaration`` ends a
    game when the side to move can declare a win. ``threads`` is how many threads step the
    games (``None``: every core); the results are the same for any number. Stepping and
    resetting run without the interpreter lock; meanwhile another thread's call on the same
    environment raises ``RuntimeError``. ``seed`` seeds ``np_random``, a numpy
    ``Generator`` for the caller's policy (the games themselves hold nothing random).
    """

    num_envs: int
    max_plies: int
    declaration: bool
    threads: int | None
    np_random: np.random.Generator

    def __init__(self, num_envs: SupportsIndex, *, seed: int | None = None, max_plies: SupportsIndex = 512,
                 threads: int | None = None, declaration: bool = False) -> None:
        self.num_envs = operator.index(num_envs)
        self.max_plies = operator.index(max_plies)
        self.declaration = bool(declaration)
        if threads is not None and not 0 <= operator.index(threads) <= 1024:
            raise ValueError(f"threads is None (every core) or 0 to 1024, not {threads}")
        self.threads = None if threads is None else operator.index(threads)
        self._native = _env.new_env(self.num_envs, self.max_plies, self.declaration)
        self.np_random = np.random.default_rng(seed)
        self._obs = _observation(self.num_envs)
        self._final = _observation(self.num_envs)
        self._actions = np.zeros(self.num_envs, dtype=np.int64)
        self._interrupted = False
        _env.reset(self._native, self._obs["features"], self._obs["legal_mask"], self._obs["turn"], self._thread_count())

    def _thread_count(self) -> int:
        return 0 if self.threads is None else self.threads

    def reset(self, *, seed: int | None = None, options: dict[str, Any] | None = None) -> tuple[Observation, dict[str, Any]]:
        """Every game back to the initial position: ``(obs, info)``, ``info`` empty. A ``seed``
        seeds ``np_random`` again. ``options`` is accepted for Gymnasium's sake and unused."""
        if seed is not None:
            self.np_random = np.random.default_rng(seed)
        try:
            _env.reset(self._native, self._obs["features"], self._obs["legal_mask"], self._obs["turn"],
                       self._thread_count())
        except BaseException:  # Ctrl-C can stop it between games
            self._interrupted = True
            raise
        self._interrupted = False
        return self._obs, {}

    def _check_whole(self) -> None:
        if self._interrupted:
            raise RuntimeError("a step or reset of these games was interrupted and left them partly done: call reset()")

    def step(self, actions: npt.ArrayLike) -> tuple[Observation, npt.NDArray[np.float32], npt.NDArray[np.bool_],
                                                   npt.NDArray[np.bool_], dict[str, Any]]:
        """Plays one move in every game: ``actions[i]`` is the label of a legal move of game
        ``i``. Returns ``(obs, rewards, terminations, truncations, info)``; the three middle
        arrays are new ones (float32, bool, bool), ``obs`` is this environment's own. A label
        that is no legal move raises ``ValueError`` naming the first such game, and then no game
        has moved. A step stopped by Ctrl-C (``KeyboardInterrupt``) may have moved some games
        and not others: ``step`` then raises ``RuntimeError`` until ``reset``.

        When games end, ``info["_final_obs"]`` marks them and ``info["final_obs"]`` is a dict
        like ``obs`` whose marked rows hold the position each ended in (reused as ``obs`` is);
        ``info`` is empty when none ended."""
        self._check_whole()
        a = np.asarray(actions)
        if a.shape != (self.num_envs,):
            raise ValueError(f"actions must have shape ({self.num_envs},), not {a.shape}")
        if a.dtype.kind not in "iu":
            raise TypeError(f"actions must be integer move labels, not {a.dtype}")
        np.copyto(self._actions, a, casting="unsafe")
        rewards = np.empty(self.num_envs, dtype=np.float32)
        terminations = np.empty(self.num_envs, dtype=np.bool_)
        truncations = np.empty(self.num_envs, dtype=np.bool_)
        try:
            ended = _env.step(self._native, self._actions, self._obs["features"], self._obs["legal_mask"],
                              self._obs["turn"], rewards, terminations, truncations, self._final["features"],
                              self._final["legal_mask"], self._final["turn"], self._thread_count())
        except ValueError:  # an illegal label: found before any game moved
            raise
        except BaseException:  # Ctrl-C can stop a step between games
            self._interrupted = True
            raise
        info: dict[str, Any] = {}
        if ended:
            info["final_obs"] = self._final
            info["_final_obs"] = terminations | truncations
        return self._obs, rewards, terminations, truncations, info

    def games(self, i: SupportsIndex) -> Game:
        """A copy of game ``i`` (negative counts from the end), its history included."""
        game = Game()
        game.__setstate__(_env.game_state(self._native, i))
        return game

    def set_game(self, i: SupportsIndex, game: Game) -> None:
        """Puts a copy of ``game`` (history included) in place ``i``, to be stepped from its
        position, and writes its row of the observation arrays. Its moves count towards
        ``max_plies``. A game that has ended (or whose side to move can declare, with
        ``declaration``) raises ``ValueError``, and nothing changes."""
        if not isinstance(game, Game):
            raise TypeError(f"set_game takes a Game, not {type(game).__name__}")
        state = game.__reduce__()[2]
        _env.set_game_state(self._native, i, state, self._obs["features"], self._obs["legal_mask"], self._obs["turn"])

    @property
    def observation(self) -> Observation:
        """The current observation arrays (those ``reset`` and ``step`` return)."""
        return self._obs

    def close(self) -> None:
        """Nothing to release: for Gymnasium's sake."""

    def __len__(self) -> int:
        return self.num_envs

    def __repr__(self) -> str:
        return f"VecEnv({self.num_envs}, max_plies={self.max_plies}, declaration={self.declaration})"


def random_actions(legal_mask: npt.ArrayLike, rng: np.random.Generator) -> npt.NDArray[np.int64]:
    """A uniformly random legal action for each row of ``legal_mask`` ((N, 2187) bool, as an
    observation's ``"legal_mask"``), drawn from ``rng``: an int64 array of N labels. A row with no
    legal move raises ``ValueError`` naming it."""
    mask = np.ascontiguousarray(legal_mask, dtype=np.bool_)
    if mask.ndim != 2 or mask.shape[1] != _MOVE_LABELS:
        raise ValueError(f"legal_mask must have shape (N, {_MOVE_LABELS}), not {mask.shape}")
    out = np.empty(mask.shape[0], dtype=np.int64)
    uniforms = np.asarray(rng.random(mask.shape[0]), dtype=np.float64)
    _env.random_actions(mask, uniforms, out)
    return out
