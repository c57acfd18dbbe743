"""Many games at once: velkorant's VecEnv against cshogi's gym ShogiVecEnv and Pgx's shogi on
this machine's CPU, random-policy steps per second, side by side in one run.

    OPENBLAS_NUM_THREADS=1 python benchmarks/env.py                 # 64, 256 and 1024 games
    python benchmarks/env.py --games 64 256 --seconds 2 --no-pgx

A step is one move in every game; steps per second count game-steps (games x steps). Every
library plays uniformly random legal moves and starts finished games again:
  velkorant             env.VecEnv.step(env.random_actions(obs["legal_mask"], rng)): each step
                        writes the 119 feature planes (uint8), the legal mask (2187 bools) and
                        the side to move of every game; one thread and every core (--threads)
  cshogi                ShogiVecEnv.step(moves) (gym_shogi; it imports the old `gym`, replaced
                        here by a stand-in module), each move drawn in Python from
                        list(board.legal_moves). It produces no observation: "cshogi+obs" also
                        writes dlshogi's make_input_features and a legal mask from
                        make_move_label for every game, the work velkorant's step does
  pgx                   pgx.make("shogi"): jax.jit(jax.vmap(auto_reset(step, init))) with
                        actions drawn by jax.random.categorical over the legal mask; its
                        observation (9, 9, 119) bool and legal_action_mask come with each step.
                        The first call's compile time is printed apart and not counted
Each figure is the best of --reps timed runs of about --seconds each (after a warm-up); ratios
above 1: velkorant (every core) is faster. The load average is printed with the table.
"""

from __future__ import annotations

import argparse
import importlib.metadata
import os
import platform
import random
import sys
import time
import types
from collections.abc import Callable

import numpy as np

from velkorant import env


def install_gym_stand_in() -> None:
    """cshogi.gym_shogi imports the old `gym` for a base class, two spaces and a registry: a
    module with those names is enough for its environments to run."""
    if "gym" in sys.modules:
        return
    gym = types.ModuleType("gym")
    spaces = types.ModuleType("gym.spaces")
    envs = types.ModuleType("gym.envs")
    registration = types.ModuleType("gym.envs.registration")

    class Env:
        pass

    class Space:
        def __init__(self, *args: object, **kwargs: object) -> None:
            pass

    setattr(gym, "Env", Env)
    setattr(spaces, "Box", Space)
    setattr(spaces, "Discrete", Space)
    setattr(gym, "spaces", spaces)
    setattr(registration, "register", lambda **kwargs: None)
    setattr(envs, "registration", registration)
    setattr(gym, "envs", envs)
    sys.modules.update({"gym": gym, "gym.spaces": spaces, "gym.envs": envs, "gym.envs.registration": registration})


def rate(run: Callable[[], None], games: int, seconds: float, reps: int) -> float:
    """Game-steps per second: the best of `reps` runs of `run` (one step of every game)."""
    run()
    best = 0.0
    for _ in range(reps):
        steps = 0
        start = time.perf_counter()
        while True:
            run()
            steps += 1
            elapsed = time.perf_counter() - start
            if elapsed >= seconds:
                break
        best = max(best, steps * games / elapsed)
    return best


def velkorant_runner(games: int, threads: int | None) -> Callable[[], None]:
    vec = env.VecEnv(games, seed=1, threads=threads)
    rng = np.random.default_rng(1)
    state = {"obs": vec.reset()[0]}

    def run() -> None:
        state["obs"] = vec.step(env.random_actions(state["obs"]["legal_mask"], rng))[0]
    return run


def cshogi_runner(games: int, observe: bool) -> Callable[[], None]:
    install_gym_stand_in()
    from cshogi import dlshogi
    from cshogi.gym_shogi.envs import ShogiVecEnv
    vec = ShogiVecEnv(games)
    vec.reset()
    boards = [e.board for e in vec.envs]
    rng = random.Random(1)
    features1 = np.zeros((games, 62, 9, 9), dtype=np.float32)
    features2 = np.zeros((games, 57, 9, 9), dtype=np.float32)
    masks = np.zeros((games, 2187), dtype=np.bool_)

    def run() -> None:
        moves = []
        for board in boards:
            legal = list(board.legal_moves)
            moves.append(legal[rng.randrange(len(legal))])
        vec.step(moves)
        if observe:
            masks[:] = False
            for i, board in enumerate(boards):
                dlshogi.make_input_features(board, features1[i], features2[i])
                color = board.turn
                for move in board.legal_moves:
                    masks[i, dlshogi.make_move_label(move, color)] = True
    return run


def pgx_runner(games: int) -> tuple[Callable[[], None], float]:
    import jax
    import jax.numpy as jnp
    import pgx
    from pgx.experimental import auto_reset

    shogi = pgx.make("shogi")
    init = jax.jit(jax.vmap(shogi.init))
    step = jax.jit(jax.vmap(auto_reset(shogi.step, shogi.init)))

    @jax.jit
    def policy(key: jax.Array, mask: jax.Array) -> jax.Array:
        return jax.random.categorical(key, jnp.where(mask, 0.0, -jnp.inf), axis=-1)

    key = jax.random.PRNGKey(1)
    key, sub = jax.random.split(key)
    state = init(jax.random.split(sub, games))
    start = time.perf_counter()
    key, k1, k2 = jax.random.split(key, 3)
    state = step(state, policy(k1, state.legal_action_mask), jax.random.split(k2, games))
    state.observation.block_until_ready()
    compile_seconds = time.perf_counter() - start
    holder = {"state": state, "key": key}

    def run() -> None:
        key, k1, k2 = jax.random.split(holder["key"], 3)
        s = holder["state"]
        s = step(s, policy(k1, s.legal_action_mask), jax.random.split(k2, games))
        s.observation.block_until_ready()
        holder["state"], holder["key"] = s, key
    return run, compile_seconds


def version(name: str) -> str:
    try:
        return importlib.metadata.version(name)
    except importlib.metadata.PackageNotFoundError:
        return "?"


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--games", type=int, nargs="+", default=[64, 256, 1024])
    parser.add_argument("--seconds", type=float, default=2.0)
    parser.add_argument("--reps", type=int, default=3)
    parser.add_argument("--threads", type=int, default=None, help="velkorant's threads (default: every core)")
    parser.add_argument("--no-pgx", action="store_true", help="leave Pgx out (it needs pgx and jax)")
    args = parser.parse_args()

    print(f"python {platform.python_version()}, cores {os.cpu_count()}, cshogi {version('cshogi')}, "
          f"pgx {version('pgx')}, jax {version('jax')}")
    header = (f"{'games':>6} {'velkorant 1t':>13} {'velkorant':>11} {'cshogi':>9} {'cshogi+obs':>11} {'pgx cpu':>9} "
              f"{'x cshogi':>9} {'x c+obs':>8} {'x pgx':>8} {'pgx compile s':>14}")
    rows = []
    for games in args.games:
        one = rate(velkorant_runner(games, 1), games, args.seconds, args.reps)
        every = rate(velkorant_runner(games, args.threads), games, args.seconds, args.reps)
        plain = rate(cshogi_runner(games, False), games, args.seconds, args.reps)
        observed = rate(cshogi_runner(games, True), games, args.seconds, args.reps)
        pgx_rate = compile_seconds = float("nan")
        if not args.no_pgx:
            run, compile_seconds = pgx_runner(games)
            pgx_rate = rate(run, games, args.seconds, args.reps)
        rows.append(f"{games:>6} {one:>13,.0f} {every:>11,.0f} {plain:>9,.0f} {observed:>11,.0f} {pgx_rate:>9,.0f} "
                    f"{every / plain:>9.1f} {every / observed:>8.1f} {every / pgx_rate:>8.1f} {compile_seconds:>14.1f}")
        print(rows[-1], flush=True)
    print("\ngame-steps per second (random legal moves, finished games started again); ratios: velkorant "
          "on every core over each peer")
    print(header)
    print("\n".join(rows))
    print(f"load average: {' '.join(f'{x:.2f}' for x in os.getloadavg())}")


if __name__ == "__main__":
    main()
