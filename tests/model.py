"""A slow, literal Python model of velkorant's rules, used as a test oracle.

Everything here is written the obvious way, straight from the rules, with plain ints:

* a bit set is a Python int of 128 bits; square index i is bit 127 - i;
* a colour is its signed number: -1 None, 0 Black, 1 White, 2 ColorNumber;
* a kind is its number 0..14 (0 None, 1 King ... 8 Pawn, 9 Dragon ... 14 ProPawn);
* a move is its 16-bit word: from in bits 0-6, to in bits 7-13, promote bit 14, drop bit 15.

Fatal failures raise `Panic` with the message the library gives. Requests the library refuses
without changing anything raise the built-in ValueError or OverflowError.
"""

NONE, BLACK, WHITE, COLOR_NUMBER = -1, 0, 1, 2
KING, GOLD, ROOK, BICHOP, SILVER, KNIGHT, LANCE, PAWN = range(1, 9)
DRAGON, HORSE, PRO_SILVER, PRO_KNIGHT, PRO_LANCE, PRO_PAWN = range(9, 15)


class Panic(Exception):
    """A failure the library cannot carry on from (PanicException in Python)."""


# ---------------------------------------------------------------------------------------------
# The 128-member bit set
# ---------------------------------------------------------------------------------------------

FULL = (1 << 128) - 1
SPARE = (1 << 7) - 1  # indices 121..127 are the seven least significant bits


def from_u128(high, low):
    return (high << 64) | low


def bit(i):
    return 1 << (127 - i)


def member(v, i):
    if i >= 128:
        raise Panic(f"index {i} out of bounds: 128")
    return (v >> (127 - i)) & 1 == 1


def set_member(v, i, value):
    if i >= 128:
        raise Panic(f"index {i} out of range: Excluded(128)")
    return v | bit(i) if value else v & ~bit(i)


def complement(v):
    # Indices 0..120 are inverted; the spare indices 121..127 are always members.
    return (~v & FULL) | SPARE


def _check_shift(n):
    if n > 128:
        raise Panic(f"shift must be less than the length of the bit-slice: {n} >= 128")


def shl(v, n):
    """Moves every member i to i - n (towards index 0)."""
    _check_shift(n)
    return (v << n) & FULL


def shr(v, n):
    """Moves every member i to i + n (towards index 127)."""
    _check_shift(n)
    return v >> n


def count_ones(v):
    return bin(v).count("1")


def get_trues(v):
    return [i for i in range(121) if member(v, i)]


def generate_column(column):
    v = 0
    for _ in range(9):
        v = set_member(v, column, True)
        v = shr(v, 11)
    return v


# ---------------------------------------------------------------------------------------------
# Squares, pieces, hand slots
# ---------------------------------------------------------------------------------------------

def index_of(column, row):
    return (row * 11 + column) % 256


def square_text(index):
    column, row = index % 11, index // 11
    return chr((column + 48) % 256) + chr((row + 96) % 256)


LETTERS = {KING: "k", GOLD: "g", ROOK: "r", BICHOP: "b", SILVER: "s", KNIGHT: "n",
           LANCE: "l", PAWN: "p"}


def piece_letters(kind):
    """The letters of a kind in lower case: "p", "+r"; a single blank for None."""
    if kind == 0:
        return " "
    if kind >= 9:
        return "+" + LETTERS[kind - 6]
    return LETTERS[kind]


def piece_text(owner, kind):
    text = piece_letters(kind)
    return text.upper() if owner == BLACK else text


def piece_from_code(code):
    """Decodes a piece code into (owner, kind)."""
    kind = code & 63
    if not 1 <= kind <= 14:
        kind = 0
    return (WHITE if code & 64 else BLACK), kind


def raw_slot(colour, kind):
    return (colour * 8 + kind - 1) % 65536


def hand_slot(colour, kind):
    """The hand slot of a side and an unpromoted kind, or the failure the library raises."""
    slot = raw_slot(colour, kind)
    if slot >= 16:
        raise Panic(f"index out of bounds: the len is 16 but the index is {slot}")
    if colour not in (BLACK, WHITE) or not KING <= kind <= PAWN:
        raise ValueError(f"no hand slot for colour {colour} and kind {kind}")
    return slot


def player_pieces(counts, colour):
    """The (owner, kind) pairs a side may drop, King..Pawn order, one per held kind."""
    result = []
    for kind in range(KING, PAWN + 1):
        slot = raw_slot(colour, kind)
        if slot >= 16:
            raise Panic(f"index out of bounds: the len is 16 but the index is {slot}")
        if counts[slot]:
            # The board's hand keeps its default table: slot s stands for its own colour and kind.
            result.append((slot // 8, slot % 8 + 1))
    return result


# ---------------------------------------------------------------------------------------------
# Moves and move text
# ---------------------------------------------------------------------------------------------

def base_constructor(frm, to, promote, drop):
    return (frm | (to << 7) | (promote << 14) | (drop << 15)) & 0xFFFF


def move_from(word):
    return word & 127


def move_to(word):
    return (word >> 7) & 127


def is_promote(word):
    return bool(word >> 14 & 1)


def is_drop(word):
    return bool(word >> 15 & 1)


DROP_KINDS = {"K": KING, "G": GOLD, "R": ROOK, "B": BICHOP, "S": SILVER, "N": KNIGHT,
              "L": LANCE, "P": PAWN}


def _square_from_bytes(column_byte, row_byte):
    return ((column_byte - 48) + 11 * (row_byte - 96)) % 256


def parse_move(text):
    """The word of a move text, or Panic for a text too short to hold the destination."""
    data = text.encode("utf-8")
    if len(data) < 2:
        raise Panic(f"byte index 2 is out of bounds of `{text}`")
    if len(data) > 2 and 0x80 <= data[2] <= 0xBF:
        raise Panic(f"byte index 2 is not a char boundary; it is inside a character of `{text}`")
    if len(data) == 2:
        raise Panic("index out of bounds: the len is 0 but the index is 0")
    if len(data) == 3:
        raise Panic("index out of bounds: the len is 1 but the index is 1")
    to = _square_from_bytes(data[2], data[3])
    chars = list(text)
    if chars[1] == "*":
        first = chars[0]
        folded = first.upper() if "a" <= first <= "z" else first
        kind = DROP_KINDS.get(folded, 0)
        colour_bit = 64 if ord(first) % 256 >= 84 else 0
        return base_constructor(kind + colour_bit, to, 0, 1)
    frm = _square_from_bytes(data[0], data[1])
    promote = 1 if len(data) >= 5 and len(chars) >= 5 and chars[4] == "+" else 0
    return base_constructor(frm, to, promote, 0)


def move_text(word):
    frm, to = move_from(word), move_to(word)
    if is_drop(word):
        text = piece_text(*piece_from_code(frm)) + "*"
    else:
        text = square_text(frm)
    text += square_text(to)
    if is_promote(word):
        text += "+"
    return text


# ---------------------------------------------------------------------------------------------
# The board
# ---------------------------------------------------------------------------------------------

WALL = from_u128(0xfff00600c0180300, 0x600c01803007ff80)
PROMOTION_ZONE = (from_u128(0, 0x3fe7fcff80000), from_u128(0xff9ff3fe00000, 0))
LAST_ROW = (from_u128(0, 0xff80000), from_u128(0xff80000000000, 0))
LAST_TWO_ROWS = (from_u128(0, 0x7fcff80000), from_u128(0xff9ff00000000, 0))

BACK_RANK = (LANCE, KNIGHT, SILVER, GOLD, KING, GOLD, SILVER, KNIGHT, LANCE)

# (row term R, column term C) of directions 0..7, as seen by Black.
DIRECTIONS = ((-1, 0), (-1, 1), (0, 1), (1, 1), (1, 0), (1, -1), (0, -1), (-1, -1))

GOLD_LIKE = (1, 1, 1, 0, 1, 0, 1, 1)
MOVE_CODES = {
    0: (0,) * 8,
    KING: (1,) * 8,
    GOLD: GOLD_LIKE,
    ROOK: (3, 0, 3, 0, 3, 0, 3, 0),
    BICHOP: (0, 3, 0, 3, 0, 3, 0, 3),
    SILVER: (1, 1, 0, 1, 0, 1, 0, 1),
    KNIGHT: (0, 2, 0, 0, 0, 0, 0, 2),
    LANCE: (3, 0, 0, 0, 0, 0, 0, 0),
    PAWN: (1, 0, 0, 0, 0, 0, 0, 0),
    DRAGON: (3, 1, 3, 1, 3, 1, 3, 1),
    HORSE: (1, 3, 1, 3, 1, 3, 1, 3),
    PRO_SILVER: GOLD_LIKE,
    PRO_KNIGHT: GOLD_LIKE,
    PRO_LANCE: GOLD_LIKE,
    PRO_PAWN: GOLD_LIKE,
}


class Board:
    def __init__(self):
        self.counts = [0] * 16
        self.occupied = 0
        self.color_boards = [0, 0]
        self.piece_boards = [complement(WALL)] + [0] * 14

    def copy(self):
        other = Board()
        other.counts = list(self.counts)
        other.occupied = self.occupied
        other.color_boards = list(self.color_boards)
        other.piece_boards = list(self.piece_boards)
        return other

    # -- square writes ------------------------------------------------------------------------

    def deploy(self, index, kind, colour):
        self.occupied = set_member(self.occupied, index, True)
        self.color_boards[0] = set_member(self.color_boards[0], index, colour == BLACK)
        self.color_boards[1] = set_member(self.color_boards[1], index, colour == WHITE)
        for k in range(15):
            self.piece_boards[k] = set_member(self.piece_boards[k], index, kind == k)

    def drop(self, index):
        self.occupied = set_member(self.occupied, index, False)
        self.color_boards[0] = set_member(self.color_boards[0], index, False)
        self.color_boards[1] = set_member(self.color_boards[1], index, False)
        self.piece_boards[0] = set_member(self.piece_boards[0], index, True)
        for k in range(1, 15):
            self.piece_boards[k] = set_member(self.piece_boards[k], index, False)

    def startpos(self):
        for column in range(1, 10):
            self.deploy(11 + column, BACK_RANK[column - 1], BLACK)
        self.deploy(24, BICHOP, BLACK)
        self.deploy(30, ROOK, BLACK)
        for index in range(34, 43):
            self.deploy(index, PAWN, BLACK)
        for column in range(1, 10):
            self.deploy(99 + column, BACK_RANK[column - 1], WHITE)
        self.deploy(96, BICHOP, WHITE)
        self.deploy(90, ROOK, WHITE)
        for index in range(78, 87):
            self.deploy(index, PAWN, WHITE)
        self.counts = [0] * 16

    # -- square reads -------------------------------------------------------------------------

    def kind_at(self, index):
        for k in range(15):
            if member(self.piece_boards[k], index):
                return k
        return 0

    def owner_at(self, index):
        if not member(self.occupied, index):
            return NONE
        return BLACK if member(self.color_boards[0], index) else WHITE

    def get_piece(self, column, row):
        """(owner, kind) of the square at an address, as Board.get_piece reads it."""
        index = index_of(column, row)
        kind = self.kind_at(index)
        return self.owner_at(index), kind

    def placement(self):
        rows = []
        for row in range(9, 0, -1):
            text, empty = "", 0
            for column in range(1, 10):
                index = row * 11 + column
                kind = self.kind_at(index)
                if kind == 0:
                    empty += 1
                    continue
                if empty:
                    text += str(empty)
                    empty = 0
                letters = piece_letters(kind)
                black = member(self.occupied, index) and member(self.color_boards[0], index)
                text += letters.upper() if black else letters
            if empty:
                text += str(empty)
            rows.append(text)
        return "/".join(rows)

    def __repr__(self):
        return f"velkorant.Board({self.placement()})"

    # -- move generation ----------------------------------------------------------------------

    def _targets(self, s):
        """The target set T of the piece on square s, by the shift-and-count scan."""
        kind = self.kind_at(s)
        c = self.owner_at(s)
        codes = MOVE_CODES[kind]
        sign = -1 if c == WHITE else 1
        origin = set_member(0, s, True)
        targets = 0
        open_flags = [True] * 8
        for k in range(1, 9):
            for d in range(8):
                code = codes[d]
                if code == 0 or not open_flags[d]:
                    continue
                r, col = DIRECTIONS[d]
                r, col = r * sign, col * sign
                j = 0
                if code == 2:
                    j = -1 if c == BLACK else 1
                a = 11 * (r * k + j) + col * k
                candidate = shl(origin, a) if a > 0 else shr(origin, -a)
                if count_ones(candidate & WALL):
                    open_flags[d] = False
                elif count_ones(candidate & self.color_boards[1 - c]):
                    targets |= candidate
                    open_flags[d] = False
                elif count_ones(candidate & self.color_boards[c]):
                    open_flags[d] = False
                else:
                    targets |= candidate
                if code != 3:
                    open_flags[d] = False
        return kind, c, set_member(targets, s, False)

    def search_moves(self, colour):
        moves = []
        own = self.color_boards[1] if colour == WHITE else self.color_boards[0]
        for s in get_trues(own):
            kind, c, targets = self._targets(s)
            for t in get_trues(targets):
                moves.append(base_constructor(s, t, 0, 0))
            if ROOK <= kind <= PAWN:
                zone = PROMOTION_ZONE[c]
                promoting = targets if member(zone, s) else targets & zone
                for t in get_trues(promoting):
                    moves.append(base_constructor(s, t, 1, 0))
        for e, kind in player_pieces(self.counts, colour):
            empty = self.piece_boards[0]
            if kind in (GOLD, ROOK, BICHOP, SILVER):
                allowed = empty
            elif kind == KNIGHT:
                allowed = empty & complement(LAST_TWO_ROWS[e])
            elif kind == LANCE:
                allowed = empty & complement(LAST_ROW[e])
            elif kind == PAWN:
                pawn_columns = 0
                for p in get_trues(self.piece_boards[PAWN] & self.color_boards[e]):
                    pawn_columns |= generate_column(p % 11)
                allowed = empty & complement(LAST_ROW[e]) & complement(pawn_columns)
            else:
                allowed = 0
            for t in get_trues(allowed):
                moves.append(base_constructor(((e << 6) | kind) & 0xFF, t, 0, 1))
        return moves

    # -- move execution -----------------------------------------------------------------------

    def execute_move(self, word):
        to, frm = move_to(word), move_from(word)
        drop, promote = is_drop(word), is_promote(word)
        if drop:
            drop_colour, drop_kind = piece_from_code(frm)
        # Every hand slot the move touches is checked on a copy first, capture before drop, so
        # that a refused move leaves the board exactly as it was.
        counts = list(self.counts)
        capture = member(self.occupied, to)
        if capture:
            k = self.kind_at(to)
            captured_kind = k - 6 if k >= 9 else k
            captured_owner = BLACK if member(self.color_boards[0], to) else WHITE
            slot = hand_slot(1 - captured_owner, captured_kind)
            if counts[slot] == 255:
                raise OverflowError(f"hand slot {slot} already holds 255 pieces")
            counts[slot] += 1
        if drop:
            slot = hand_slot(drop_colour, drop_kind)
            if counts[slot] == 0:
                raise ValueError(f"hand slot {slot} is empty")
            counts[slot] -= 1
        # The checks passed: apply the steps in order, capture, then removal, then placement.
        if capture:
            self.drop(to)
        self.counts = counts
        if drop:
            self.deploy(to, drop_kind, drop_colour)
            return
        kind = self.kind_at(frm)
        owner = self.owner_at(frm)
        self.drop(frm)
        if promote and ROOK <= kind <= PAWN:
            kind += 6
        self.deploy(to, kind, owner)

    # -- game end -----------------------------------------------------------------------------

    def is_finished(self):
        kings = self.piece_boards[KING]
        if count_ones(kings) == 2:
            return False, NONE
        if count_ones(kings & self.color_boards[0]):
            return True, BLACK
        return True, WHITE
