"""Play a few games between two USI engines, or an engine and a seeded random player, with
velkorant.usi, and print how each ended.

    python examples/usi_match.py --engine fairy-stockfish --engine gpsusi --games 2 --byoyomi 100
    python examples/usi_match.py --engine fairy-stockfish --random --games 2 --records games.csa

An engine is fairy-stockfish, gpsusi or the command line of any USI engine. Colours alternate:
the first player named has Black in games 1, 3, ... (``velkorant match`` runs real matches:
many games at once, openings, statistics.)
"""
from __future__ import annotations

import argparse
import collections
import random
import sys
from typing import Optional, Sequence

import velkorant
from velkorant import records, usi

# Options that keep each known engine to one thread and its time.
KNOWN = {"fairy-stockfish": ("/usr/games/fairy-stockfish", {"Threads": 1}),
         "gpsusi": ("/usr/games/gpsusi", {"Thread": 1})}


def random_player(seed: int) -> usi.Player:
    rng = random.Random(seed)

    def random_mover(game: velkorant.Game) -> str:
        return rng.choice(game.legal_moves()).usi()

    random_mover.__name__ = "random"  # its name in the records
    return random_mover


def describe(number: int, record: usi.GameRecord) -> str:
    result, (black, white) = record.result, (record.headers["black"], record.headers["white"])
    if result.winner is None:
        verdict = f"draw by {result.reason}"
    else:
        verdict = f"{(black, white)[int(result.winner)]} wins by {result.reason}"
    line = f"game {number}: {black} (black) vs {white} (white): {verdict} after {result.plies} plies"
    return line + (f"\n  {result.message}" if result.message else "")


def main(argv: Optional[Sequence[str]] = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--engine", action="append", default=[], help="fairy-stockfish, gpsusi or a command")
    parser.add_argument("--random", action="store_true", help="a seeded random player joins")
    parser.add_argument("--games", type=int, default=2)
    parser.add_argument("--byoyomi", type=int, default=1000, metavar="MS")
    parser.add_argument("--margin", type=int, default=100, metavar="MS",
                        help="how late a move may be before it loses on time")
    parser.add_argument("--max-plies", type=int, default=256)
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--start", default=None, help="a USI position or SFEN to start from")
    parser.add_argument("--records", help="write every game to this file (CSA, or KIF by extension)")
    args = parser.parse_args(argv)
    if len(args.engine) + args.random != 2:
        parser.error("name two players: two --engine, or one --engine and --random")

    players: list[usi.Player] = []
    played: list[usi.GameRecord] = []
    try:
        for name in args.engine:
            command, options = KNOWN.get(name, (name, {}))
            players.append(usi.Engine(command, options=options, name=name))
        if args.random:
            players.append(random_player(args.seed))
        for number in range(1, args.games + 1):
            black, white = players if number % 2 else players[::-1]
            record = usi.play(black, white, start=args.start, clock=usi.Clock(byoyomi=args.byoyomi, margin=args.margin),
                              max_plies=args.max_plies)
            played.append(record)
            print(describe(number, record), flush=True)
            for player in players:  # an engine that failed plays the next game afresh
                if isinstance(player, usi.Engine) and not player.alive:
                    player.restart()
    except usi.EngineError as error:
        print(f"stopped: {error}", file=sys.stderr)
        return 2
    finally:
        for player in players:
            if isinstance(player, usi.Engine):
                player.quit()
    wins: collections.Counter[str] = collections.Counter()
    for record in played:
        if record.result.winner is not None:
            wins[record.headers[("black", "white")[int(record.result.winner)]]] += 1
    print("wins: " + ", ".join(f"{name} {count}" for name, count in wins.items()) +
          f"; draws {sum(1 for r in played if r.result.winner is None)}")
    if args.records:
        text = records.dumps_all(played, "kif" if args.records.endswith(".kif") else "csa")
        with open(args.records, "w", encoding="utf-8") as out:
            out.write(text)
    return 0


if __name__ == "__main__":
    sys.exit(main())
