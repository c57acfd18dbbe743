"""USI move text and SFEN positions on a velkorant Board.

The other shogi libraries speak USI: files 1..9 counted from the right of the first player,
ranks a..i from the second player's side. velkorant counts columns and rows 1..9 from the
other corner, so a USI square (file f, rank r) is our (column 10 - f, row 10 - r), with the
rank letters a..i standing for 1..9 in both texts. ColorType.Black is the side that moves
first (sente), starts on rows 1-3 and moves towards row 9.

* A USI board move is converted square by square: USI "7g7f" is file 7 rank 7 -> file 7
  rank 6, our column 3 row 3 -> column 3 row 4, written "3c3d". A "+" suffix is kept.
* A USI drop "P*5e" always has an upper-case letter; ours gives the owner by the case, so a
  White (gote) drop is written lower case: "p*5e" (the square converted as above).
* An SFEN placement reads ranks a..i and, within a rank, files 9..1. That is our rows 9..1
  and, within a row, columns 1..9: the same order in which repr(Board) writes the board, so
  the placement field of an SFEN is exactly the text inside "velkorant.Board(...)".

Pieces in hand. A Board has no way to put a piece into its hand directly: the hand only
grows through captures in execute_move. board_from_sfen therefore builds the hand before the
board, on the still empty board, with one capture per piece in hand:

    deploy the piece to give, owned by the opponent, on a square T;
    deploy any piece (a Gold) of the receiving side on a second square S;
    execute the board move S -> T.

The capture puts the captured piece, unpromoted, into the hand of the side opposite its
owner, which is the receiving side. execute_move then empties S (the square is back to its
untouched state: unoccupied, no colour, kind None) and leaves the Gold on T. T is chosen
among the squares that the SFEN fills, so the placement deploys that follow overwrite the
Gold, and S is either filled by the placement too or stays empty. No wall square, no spare
index and no argument outside the normal playing area is involved, and nothing is left
behind: the resulting Board is the one the SFEN describes, hand counts included.
check_board verifies that for a given SFEN (board text, and the drops with their counts).
"""

from __future__ import annotations

from velkorant import Address, Board, ColorType, Move, PieceType

BLACK = ColorType.Black
WHITE = ColorType.White
NO_KIND = getattr(PieceType, "None")

KIND = {
    "K": PieceType.King,
    "G": PieceType.Gold,
    "R": PieceType.Rook,
    "B": PieceType.Bichop,
    "S": PieceType.Silver,
    "N": PieceType.Knight,
    "L": PieceType.Lance,
    "P": PieceType.Pawn,
    "+R": PieceType.Dragon,
    "+B": PieceType.Horse,
    "+S": PieceType.ProSilver,
    "+N": PieceType.ProKnight,
    "+L": PieceType.ProLance,
    "+P": PieceType.ProPawn,
}
HAND_LETTERS = "RBGSNLP"


def square(usi_square: str) -> tuple[int, int]:
    """Our (column, row) of a USI square such as "7g" (file 7, rank g = 7)."""
    return 10 - (ord(usi_square[0]) - 48), 10 - (ord(usi_square[1]) - 96)


def square_text(column: int, row: int) -> str:
    return chr(48 + column) + chr(96 + row)


def index(column: int, row: int) -> int:
    return row * 11 + column


def move_text(usi: str, white: bool) -> str:
    """Our move text for a USI move played by White (gote) if `white`, else by Black."""
    if usi[1] == "*":
        letter = usi[0].lower() if white else usi[0].upper()
        return letter + "*" + square_text(*square(usi[2:4]))
    text = square_text(*square(usi[0:2])) + square_text(*square(usi[2:4]))
    return text + "+" if usi.endswith("+") else text


def parse_sfen(sfen: str):
    """Split an SFEN into (pieces, side, hand).

    pieces: list of (column, row, sfen letter) in our coordinates, letter upper case for
    Black, with a leading "+" when promoted; side: ColorType; hand: list of (sfen letter,
    count), upper case for Black's pieces.
    """
    fields = sfen.split()
    if fields[0] == "sfen":
        fields = fields[1:]
    placement, side, hand_text = fields[0], fields[1], fields[2]
    pieces = []
    for i, rank in enumerate(placement.split("/")):
        row = 9 - i
        column = 1
        promoted = False
        for ch in rank:
            if ch.isdigit():
                column += int(ch)
            elif ch == "+":
                promoted = True
            else:
                pieces.append((column, row, ("+" if promoted else "") + ch))
                column += 1
                promoted = False
    hand = []
    count = 0
    if hand_text != "-":
        for ch in hand_text:
            if ch.isdigit():
                count = count * 10 + int(ch)
            else:
                hand.append((ch, count or 1))
                count = 0
    return pieces, (WHITE if side == "w" else BLACK), hand


def board_from_sfen(sfen: str) -> tuple[Board, ColorType]:
    """A new Board holding the SFEN's position and hands, and the side to move."""
    pieces, side, hand = parse_sfen(sfen)
    board = Board()
    if hand:
        # T: a square the placement fills; S: any other playing square.
        t_col, t_row = pieces[0][0], pieces[0][1]
        s_col, s_row = (1, 1) if (t_col, t_row) != (1, 1) else (2, 1)
        capture = Move(square_text(s_col, s_row) + square_text(t_col, t_row))
        t, s = index(t_col, t_row), index(s_col, s_row)
        for letter, count in hand:
            receiver = BLACK if letter.isupper() else WHITE
            giver = WHITE if letter.isupper() else BLACK
            for _ in range(count):
                board.deploy(t, KIND[letter.upper()], giver)
                board.deploy(s, PieceType.Gold, receiver)
                board.execute_move(capture)
    for column, row, letter in pieces:
        color = BLACK if letter[-1].isupper() else WHITE
        board.deploy(index(column, row), KIND[letter.upper()], color)
    return board, side


def drop_kinds(board: Board, color: ColorType) -> list[str]:
    """Upper-case letters of the kinds `color` can drop, in generation order."""
    kinds = []
    for move in board.search_moves(color):
        if move.is_drop():
            letter = repr(move)[len("velkorant.Move(")].upper()
            if letter not in kinds:
                kinds.append(letter)
    return kinds


def check_board(sfen: str) -> None:
    """Assert that board_from_sfen(sfen) is the SFEN's position, hand counts included.

    The board text must equal the placement. For the hands: each side's droppable kinds must
    be the kinds it holds (a Pawn may be held and not droppable, when every column with room
    already has one of its pawns; that is checked by the count below). Each count is checked
    on a fresh board with an empty placement: drop the kind, let an opposing Gold capture the
    dropped piece (so a pawn's column is free again), and repeat; the kind must stay
    droppable exactly `count` times.
    """
    pieces, _, hand = parse_sfen(sfen)
    board, _ = board_from_sfen(sfen)
    placement = sfen.split()[1 if sfen.startswith("sfen") else 0]
    got = repr(board)
    assert got == f"velkorant.Board({placement})", (sfen, got)

    # ColorType has no hash, so the hands are keyed by the colour's number
    held = ({}, {})
    for letter, count in hand:
        held[0 if letter.isupper() else 1][letter.upper()] = count
    for color in (BLACK, WHITE):
        kinds = drop_kinds(board, color)
        expected = [k for k in "GRBSNLP" if k in held[int(color)]]
        if "P" in expected and "P" not in kinds:
            expected.remove("P")  # every free column holds a pawn of this side
        assert kinds == expected, (sfen, color, kinds, expected)

    # Counts: rebuild only the hands, on an otherwise empty board.
    hand_only = " ".join(["9/9/9/9/9/9/9/9/4G4", "b", sfen.split()[-2]])
    for letter, count in hand:
        color = BLACK if letter.isupper() else WHITE
        enemy = WHITE if color == BLACK else BLACK
        scratch, _ = board_from_sfen(hand_only)
        for _ in range(count):
            drops = [
                m for m in scratch.search_moves(color)
                if m.is_drop() and repr(m)[len("velkorant.Move(")].upper() == letter.upper()
            ]
            assert drops, (sfen, letter, count)
            to = drops[0].get_to()
            scratch.execute_move(drops[0])
            # an opposing Gold next door takes the dropped piece off again
            spare = next_free(scratch, to.column, to.row)
            scratch.deploy(index(*spare), PieceType.Gold, enemy)
            scratch.execute_move(Move(square_text(*spare) + square_text(to.column, to.row)))
        rest = [
            m for m in scratch.search_moves(color)
            if m.is_drop() and repr(m)[len("velkorant.Move(")].upper() == letter.upper()
        ]
        assert not rest, (sfen, letter, count)


def next_free(board: Board, column: int, row: int) -> tuple[int, int]:
    """Some empty playing square other than (column, row)."""
    for r in range(1, 10):
        for c in range(1, 10):
            if (c, r) != (column, row):
                if board.get_piece(Address(c, r)).piece_type == NO_KIND:
                    return c, r
    raise AssertionError("no free square")
