"""velkorant's games as Gymnasium environments (the ``velkorant[rl]`` extra installs Gymnasium).

``ShogiVectorEnv`` is ``env.VecEnv`` as a ``gymnasium.vector.VectorEnv``: N games stepped
natively, automatic reset in Gymnasium's "same step" mode. ``ShogiEnv`` is one game as a
``gymnasium.Env``, the form Gymnasium's environment checker and single-game tools take::

    import gymnasium
    from velkorant import env, rl

    envs = rl.ShogiVectorEnv(64, seed=0)
    obs, info = envs.reset(seed=0)
    obs, rewards, terminations, truncations, info = envs.step(env.random_actions(obs["legal_mask"], envs.np_random))

The spaces: an action is a move label, ``Discrete(2187)`` (``MultiDiscrete`` for the N games); an
observation is ``Dict(features=Box(0, 1, (119, 9, 9), uint8), legal_mask=Box(0, 1, (2187,), bool),
turn=Box(0, 1, (), int8))``, batched along a first axis of N. Rewards are those of ``VecEnv``:
+1, -1 or 0 for the side that has just moved.
"""

from __future__ import annotations

from typing import Any, SupportsIndex

import gymnasium
import numpy as np
import numpy.typing as npt
from gymnasium import spaces
from gymnasium.vector import AutoresetMode, VectorEnv
from gymnasium.vector.utils import batch_space

from velkorant._core import Game
from velkorant.env import FEATURES_NUM, Observation
from velkorant.env import VecEnv as _VecEnv

__all__ = ["ShogiVectorEnv", "ShogiEnv", "ENV_ID", "observation_space", "action_space"]

_MOVE_LABELS = 2187


def observation_space() -> spaces.Dict:
    """The observation space of one game."""
    return spaces.Dict({
        "features": spaces.Box(0, 1, (FEATURES_NUM, 9, 9), dtype=np.uint8),
        "legal_mask": spaces.Box(0, 1, (_MOVE_LABELS,), dtype=np.bool_),
        "turn": spaces.Box(0, 1, (), dtype=np.int8),
    })


def action_space() -> spaces.Discrete:
    """The action space of one game: the move labels."""
    return spaces.Discrete(_MOVE_LABELS)


def _copy(obs: Observation) -> Observation:
    return {key: value.copy() for key, value in obs.items()}


def _row(obs: Observation, i: int) -> Observation:
    """Game i's observation, copied (a 0-d array for the turn)."""
    return {key: np.array(value[i]) for key, value in obs.items()}


class ShogiVectorEnv(VectorEnv):
    """``num_envs`` games as a Gymnasium vector environment (arguments as ``env.VecEnv``'s).

    An illegal label raises ``ValueError`` (``VecEnv.step``). When a game ends, the observation
    returned is the next game's; ``info["final_obs"]`` (an object array, one observation dict
    where ``info["_final_obs"]`` is True) holds the position it ended in. With ``copy=True``
    (the default) every observation returned is a new array, as Gymnasium expects; with
    ``copy=False`` the arrays are reused from call to call, which is faster for batches of
    hundreds of games. ``vec`` is the underlying ``VecEnv``.
    """

    metadata: dict[str, Any] = {"autoreset_mode": AutoresetMode.SAME_STEP, "render_modes": []}

    def __init__(self, num_envs: SupportsIndex, *, seed: int | None = None, max_plies: SupportsIndex = 512,
                 threads: int | None = None, declaration: bool = False, copy: bool = True) -> None:
        self.vec = _VecEnv(num_envs, seed=seed, max_plies=max_plies, threads=threads, declaration=declaration)
        self.num_envs = self.vec.num_envs
        self.copy = copy
        self.single_observation_space = observation_space()
        self.single_action_space = action_space()
        self.observation_space = batch_space(self.single_observation_space, self.num_envs)
        self.action_space = batch_space(self.single_action_space, self.num_envs)
        if seed is not None:
            self.action_space.seed(seed)

    @property
    def np_random(self) -> np.random.Generator:
        """The generator of ``vec`` (seeded by ``seed``), for the caller's policy."""
        return self.vec.np_random

    @np_random.setter
    def np_random(self, value: np.random.Generator) -> None:
        self.vec.np_random = value

    def reset(self, *, seed: int | list[int | None] | None = None,
              options: dict[str, Any] | None = None) -> tuple[Observation, dict[str, Any]]:
        """Every game back to the initial position: ``(obs, info)``."""
        if isinstance(seed, list):
            seed = seed[0]
        if seed is not None:
            self.action_space.seed(seed)
        obs, info = self.vec.reset(seed=seed, options=options)
        return (_copy(obs) if self.copy else obs), info

    def step(self, actions: npt.ArrayLike) -> tuple[Observation, npt.NDArray[np.float32], npt.NDArray[np.bool_],
                                                   npt.NDArray[np.bool_], dict[str, Any]]:
        """One move a game; the games that end start again, their final observations in
        ``info``."""
        obs, rewards, terminations, truncations, vec_info = self.vec.step(actions)
        info: dict[str, Any] = {}
        if vec_info:
            ended = vec_info["_final_obs"]
            final = vec_info["final_obs"]
            finals = np.full(self.num_envs, None, dtype=object)
            for i in np.flatnonzero(ended):
                finals[i] = _row(final, int(i))
            info = {"final_obs": finals, "_final_obs": ended.copy(), "final_info": {}, "_final_info": ended.copy()}
        return (_copy(obs) if self.copy else obs), rewards, terminations, truncations, info

    def games(self, i: SupportsIndex) -> Game:
        """A copy of game ``i``, history included."""
        return self.vec.games(i)

    def set_game(self, i: SupportsIndex, game: Game) -> None:
        """Game ``i`` replaced by a copy of ``game``; see ``VecEnv.set_game``."""
        self.vec.set_game(i, game)

    def close_extras(self, **kwargs: Any) -> None:
        """Nothing to release."""


class ShogiEnv(gymnasium.Env):
    """One game of shogi as a Gymnasium environment, for tools that take a single ``Env``
    (Gymnasium's ``check_env``, ``SyncVectorEnv``). Arguments as ``env.VecEnv``'s.

    An illegal label loses the game for the side that played it (reward -1, terminated), as the
    random actions of Gymnasium's checker need. After an ending the game waits for ``reset``.
    ``render()`` with ``render_mode="ansi"`` gives the position's SFEN.
    """

    metadata: dict[str, Any] = {"render_modes": ["ansi"], "render_fps": 1}

    def __init__(self, *, max_plies: SupportsIndex = 512, declaration: bool = False,
                 render_mode: str | None = None) -> None:
        if render_mode not in (None, "ansi"):
            raise ValueError(f"render_mode is None or 'ansi', not {render_mode!r}")
        self.render_mode = render_mode
        self._vec = _VecEnv(1, max_plies=max_plies, threads=1, declaration=declaration)
        self.observation_space = observation_space()
        self.action_space = action_space()
        self._final: Observation | None = None

    def reset(self, *, seed: int | None = None,
              options: dict[str, Any] | None = None) -> tuple[Observation, dict[str, Any]]:
        """The initial position: ``(obs, {})``."""
        super().reset(seed=seed)
        obs, _ = self._vec.reset()
        self._final = None
        return _row(obs, 0), {}

    def step(self, action: int | np.integer[Any]) -> tuple[Observation, float, bool, bool, dict[str, Any]]:
        """Plays the move of label ``action``: ``(obs, reward, terminated, truncated, {})``."""
        current = _row(self._vec.observation, 0)
        if self._final is not None:
            return _copy(self._final), 0.0, True, False, {}
        label = int(action)
        if not 0 <= label < _MOVE_LABELS or not current["legal_mask"][label]:
            self._final = current
            return _copy(current), -1.0, True, False, {"illegal_action": True}
        obs, rewards, terminations, truncations, info = self._vec.step([label])
        if info:
            self._final = _row(info["final_obs"], 0)
            return _copy(self._final), float(rewards[0]), bool(terminations[0]), bool(truncations[0]), {}
        return _row(obs, 0), float(rewards[0]), False, False, {}

    def render(self) -> str | None:
        """The SFEN of the position (``render_mode="ansi"``), else None."""
        return self._vec.games(0).sfen() if self.render_mode == "ansi" else None


ENV_ID = "velkorant/Shogi-v0"
"""The id under which ``gymnasium.make`` and ``gymnasium.make_vec`` find these environments
(registered when this module is imported)."""

if ENV_ID not in gymnasium.registry:
    gymnasium.register(ENV_ID, entry_point="velkorant.rl:ShogiEnv", vector_entry_point="velkorant.rl:ShogiVectorEnv")
