"""A USI engine for match tests that plays the first legal move and misbehaves on request.

    python faulty_usi.py [crash|hang|illegal|resign] [PLY]

From the engine's PLY-th search on (0: the first), ``crash`` exits, ``hang`` never answers,
``illegal`` plays a move the rules refuse and ``resign`` resigns. Without a fault it plays on.
"""
import sys
import time

import velkorant

fault = sys.argv[1] if len(sys.argv) > 1 else ""
at = int(sys.argv[2]) if len(sys.argv) > 2 else 0
searches = 0
game = velkorant.Game()
for line in sys.stdin:
    words = line.split()
    if not words:
        continue
    if words[0] == "usi":
        print("id name faulty", "option name Hash type spin default 16 min 1 max 1024", "usiok", sep="\n")
    elif words[0] == "isready":
        print("readyok")
    elif words[0] == "position":
        game = velkorant.Game.from_usi(line.strip())
    elif words[0] == "go":
        searches += 1
        if searches > at and fault == "crash":
            sys.exit(3)
        if searches > at and fault == "hang":
            time.sleep(3600)
        if searches > at and fault in ("illegal", "resign"):
            print("bestmove", "5e5a" if fault == "illegal" else "resign")
        else:
            print("info depth 1 score cp 0 pv", game.legal_moves()[0].usi())
            print("bestmove", game.legal_moves()[0].usi())
    elif words[0] == "quit":
        break
    sys.stdout.flush()
