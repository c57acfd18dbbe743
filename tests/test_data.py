"""velkorant.data: packed positions and move words against cshogi, the oracle."""

import random

import pytest

np = pytest.importorskip("numpy")
cshogi = pytest.importorskip("cshogi")

from velkorant import ColorType, Game, data  # noqa: E402

STARTS = [
    "lnsgkgsnl/1r5b1/ppppppppp/9/9/9/PPPPPPPPP/1B5R1/LNSGKGSNL b - 1",
    "lnsgkgsnl/9/ppppppppp/9/9/9/PPPPPPPPP/1B5R1/LNSGKGSNL w - 1",      # two-piece handicap
    "lnsgkgsn1/1r5b1/ppppppppp/9/9/9/PPPPPPPPP/1B5R1/LNSGKGSNL w - 1",  # lance handicap
    "4k4/9/9/9/9/9/9/9/4K4 b RB2G2S2N2L9Prb2g2s2n2l9p 1",             # every piece in hand
    "8l/1l+R2P3/p2pBG1pp/kps1p4/Nn1P2G2/P1P1P2PP/1PS6/1KSG3+r1/LN2+p3L w Sbgn3p 124",
]
SET_UP = ["P3k4/9/9/9/9/4P4/4P4/9/4K4 b - 1"]  # not reached by play: a pawn that cannot move, two on a file
# Mating problems: no Black king. They fit in 32 bytes unless White holds a piece in hand.
PROBLEMS_FIT = ["7nl/7k1/9/7p1/9/9/9/9/9 b GS 1", "7nl/7k1/9/7p1/9/9/9/9/9 b 2R2B4G4S3N3L17P 1",
                "4k4/9/9/9/9/9/9/9/9 b - 1"]
PROBLEMS_TOO_LONG = ["4k4/9/9/9/9/9/9/9/9 b 2r2b4g4s4n4l18p 1", "7nl/7k1/9/7p1/9/9/9/9/9 b GS2r2b3g3s3n3l17p 1"]


def cshogi_bytes(board, fmt):
    out = np.zeros(1, cshogi.HuffmanCodedPos if fmt == "hcp" else cshogi.PackedSfen)
    (board.to_hcp if fmt == "hcp" else board.to_psfen)(out)
    return out.tobytes()


def random_games(seed, games, length=250):
    """(game, cshogi board, the cshogi move played next or None) along random legal games."""
    rng = random.Random(seed)
    for g in range(games):
        start = STARTS[g % len(STARTS)]
        board, game = cshogi.Board(start), Game(start)
        for _ in range(length):
            moves = list(board.legal_moves)
            move = rng.choice(moves) if moves and not board.is_game_over() else None
            yield game, board, move
            if move is None:
                break
            game.push_usi(cshogi.move_to_usi(move))
            board.push(move)


def without_ply(sfen):
    return sfen.rsplit(" ", 1)[0]


@pytest.fixture(scope="module")
def positions():
    return [(game.sfen(), move is not None and (game.copy(), move)) for game, _, move in random_games(19, 24)]


@pytest.mark.parametrize("fmt", ["hcp", "psfen"])
def test_bytes_equal_cshogi_and_read_back(fmt):
    seen = 0
    for game, board, _ in random_games(7, 20):
        packed = getattr(game, "to_" + fmt)()
        assert packed == cshogi_bytes(board, fmt), game.sfen()
        back = getattr(Game, "from_" + fmt)(packed, game.ply)
        assert back.sfen() == game.sfen()
        seen += 1
    assert seen > 3000
    for sfen in STARTS + PROBLEMS_FIT + SET_UP:
        game = Game(sfen)
        assert getattr(game, "to_" + fmt)() == cshogi_bytes(cshogi.Board(sfen), fmt), sfen
        assert getattr(Game, "from_" + fmt)(getattr(game, "to_" + fmt)(), game.ply).sfen() == sfen


@pytest.mark.parametrize("fmt", ["hcp", "psfen"])
@pytest.mark.parametrize("sfen", PROBLEMS_TOO_LONG)
def test_positions_past_32_bytes_refused(fmt, sfen):
    # 32 bytes cannot hold them (cshogi 1.1.0 cuts the last bit off and reads back another
    # position); we refuse.
    with pytest.raises(ValueError, match="more than 256 bits"):
        getattr(Game(sfen), "to_" + fmt)()


@pytest.mark.parametrize("fmt", ["hcp", "psfen"])
def test_flipped_bits_refused_or_exact(fmt):
    rng = random.Random(3)
    samples = [g.copy() for g, _, _ in random_games(5, 6, 120)][::6]
    refused = 0
    for game in samples:
        packed = getattr(game, "to_" + fmt)()
        for _ in range(60):
            corrupt = bytearray(packed)
            for _ in range(rng.choice([1, 1, 2, 3])):
                corrupt[rng.randrange(32)] ^= 1 << rng.randrange(8)
            try:
                back = getattr(Game, "from_" + fmt)(bytes(corrupt))
            except ValueError:
                refused += 1
                continue
            assert getattr(back, "to_" + fmt)() == bytes(corrupt)
    assert refused > len(samples) * 30


@pytest.mark.parametrize("fmt", ["hcp", "psfen"])
@pytest.mark.parametrize("bits, why", [
    ("0" * 256, "both kings"),
    ("0" + "1" * 7 + "0" * 248, "past 81"),
    ("0" + "0010010" * 2 + "0" * 241, "both kings"),
    ("1" * 256, "past 81"),
])
def test_malformed_refused(fmt, bits, why):
    data_ = bytes(int(bits[i:i + 8][::-1], 2) for i in range(0, 256, 8))
    with pytest.raises(ValueError, match=why):
        getattr(Game, "from_" + fmt)(data_)
    with pytest.raises(ValueError, match="32 bytes"):
        getattr(Game, "from_" + fmt)(data_[:31])


def test_dtypes_are_cshogis():
    assert data.HuffmanCodedPos == cshogi.HuffmanCodedPos and data.PackedSfen == cshogi.PackedSfen
    assert data.HuffmanCodedPosAndEval == cshogi.HuffmanCodedPosAndEval
    assert data.PackedSfenValue == cshogi.PackedSfenValue
    assert (data.HuffmanCodedPosAndEval.itemsize, data.PackedSfenValue.itemsize) == (38, 40)


def test_move_words_equal_cshogi():
    count = 0
    for game, board, move in random_games(11, 12):
        if move is None:
            continue
        ours = game.legal_moves()[[m.usi() for m in game.legal_moves()].index(cshogi.move_to_usi(move))]
        m16, psv = cshogi.move16(move), cshogi.move16_to_psv(cshogi.move16(move))
        assert (data.move16(game, ours), data.psv_move16(game, ours)) == (m16, psv)
        assert data.move_from_move16(game, m16).usi() == data.move_from_psv_move16(game, psv).usi() == ours.usi()
        count += 1
    assert count > 1500


@pytest.mark.parametrize("convert, word", [
    (data.move_from_move16, 0x1622 ^ 0x22 | 81),       # destination 81
    (data.move_from_move16, 88 << 7 | 40),             # drop of no kind
    (data.move_from_move16, 1 << 14 | 81 << 7 | 40),   # a promoting drop
    (data.move_from_move16, 1 << 15 | 0x1622),         # bit 15
    (data.move_from_move16, 60 << 7 | 58),             # 7g7e
    (data.move_from_psv_move16, 1 << 14 | 40),         # a drop of piece 0
    (data.move_from_psv_move16, 3 << 14 | 1 << 7 | 40),
    (data.move_from_psv_move16, 1 << 14 | 1 << 7 | 40),  # no pawn in hand
])
def test_bad_move_words_refused(convert, word):
    with pytest.raises(ValueError):
        convert(Game(), word)


@pytest.mark.parametrize("fmt", ["hcp", "psfen"])
def test_pack_unpack_threads(fmt, positions):
    sfens = [s for s, _ in positions]
    one, two = data.pack(sfens, fmt, threads=1), data.pack(sfens, fmt, threads=2)
    assert one.dtype == (data.HuffmanCodedPos if fmt == "hcp" else data.PackedSfen)
    assert one.tobytes() == two.tobytes() == b"".join(getattr(Game(s), "to_" + fmt)() for s in sfens)
    assert data.pack([Game(s) for s in sfens[:50]], fmt).tobytes() == one[:50].tobytes()
    back = data.unpack(one, threads=2)
    assert back == data.unpack(one, threads=1)
    assert list(map(without_ply, back)) == list(map(without_ply, sfens))
    bad = sfens[:700] + ["lnsgkgsnl b - 1"] + sfens[:700]
    with pytest.raises(ValueError, match="^item 700: "):
        data.pack(bad, fmt, threads=2)
    corrupt = one.copy()
    corrupt[corrupt.dtype.names[0]][500] = 255
    with pytest.raises(ValueError, match="^item 500: "):
        data.unpack(corrupt, threads=2)


@pytest.mark.parametrize("winner, turn, hcpe, psv", [
    (ColorType.Black, ColorType.Black, 1, 1), (ColorType.Black, ColorType.White, 1, -1),
    (ColorType.White, ColorType.Black, 2, -1), (ColorType(255), ColorType.White, 0, 0), (None, ColorType.Black, 0, 0),
])
def test_results(winner, turn, hcpe, psv):
    assert (data.hcpe_result(winner), data.psv_result(winner, turn)) == (hcpe, psv)


def test_import_velkorant_leaves_numpy_alone():
    import subprocess
    import sys
    code = "import sys, velkorant; assert 'numpy' not in sys.modules"
    subprocess.run([sys.executable, "-c", code], check=True)
