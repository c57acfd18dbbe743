"""Hostile input at the boundary.

Every constructor, method, attribute and comparison of every class is fed arbitrary Python
values: integers far outside any range, floats, text with lone surrogates, bytes, sequences of
any length, instances of every class, and objects whose __index__ raises or re-enters the object
being called. A call may only fail with the exception types the boundary documents (or the
caller's own exception passing through), and a failed call leaves its receiver and arguments
exactly as they were. The members are found in the classes themselves and their parameters in
their text signatures, so a new member is fuzzed as soon as it exists; one whose parameter,
result or class has no entry in the tables below fails with a message saying what to add.
Then: move text from arbitrary strings, re-entrant callbacks on a borrowed object, pickles and
copies, and Python operations that try to read one class's record as another's.
"""
import copy
import copyreg
import itertools
import operator
import pickle
import re
import string
import types

import pytest
from hypothesis import HealthCheck, event, given, settings, strategies as st

import velkorant
from support.surface import PanicException, hand_counts, move_text, move_view, read
from velkorant import Address, Board, ColorType, Game, Hand, Move, Piece, PieceType

CLASSES = [getattr(velkorant, name) for name in velkorant.__all__]
BLACK, WHITE, PAWN = ColorType.Black, ColorType.White, PieceType.Pawn
FUZZ = settings(max_examples=60, derandomize=True, deadline=None,
                suppress_health_check=[HealthCheck.too_slow, HealthCheck.data_too_large])


class Boom(Exception):
    """Raised by the caller's own callbacks; must pass through unchanged."""


class BoomBase(BaseException):
    """The same, outside Exception."""


# ---------------------------------------------------------------------------------------------
# What can be seen of each object


def state(obj):
    """Everything the surface shows of an object of the module (None for other objects)."""
    if isinstance(obj, Board):
        return (repr(obj), [read(obj, i) for i in range(128)], hand_counts(obj), repr(obj.hand), obj.is_finished(),
                [[repr(m) for m in obj.search_moves(c)] for c in (BLACK, WHITE)])
    if isinstance(obj, Game):
        return repr(obj), obj.usi(), int(obj.turn), obj.ply, [repr(m) for m in obj.legal_moves()]
    if isinstance(obj, Hand):
        return repr(obj), obj.counts, [repr(p) for p in obj.pieces]
    if isinstance(obj, Address):
        return repr(obj), obj.column, obj.row, obj.to_int()
    if isinstance(obj, Piece):
        return repr(obj), int(obj.owner), int(obj.piece_type)
    if isinstance(obj, Move):
        return move_view(obj)
    if isinstance(obj, (ColorType, PieceType)):
        return repr(obj), int(obj)
    return None


# ---------------------------------------------------------------------------------------------
# Hostile values


def poke(target, write):
    """A read or a write of `target` from inside a callback."""
    if write and isinstance(target, Board):
        target.execute_move(Move("5c5d"))
    elif write and isinstance(target, Hand):
        target.add_piece(BLACK, PAWN)
    elif write and isinstance(target, Address):
        target.column = 3
    elif write and isinstance(target, Piece):
        target.owner = WHITE
    elif write and isinstance(target, Game):
        target.push(target.legal_moves()[0]) if target.legal_moves() else target.pop()
    elif target is not None:
        repr(target)


# The object being called, which callbacks aim at; None while a constructor is being called.
called = [None]


class Index:
    """An integer-like object. Its __index__ may read or write the object being called, swallow
    the error that gives, raise the caller's own exception, or return a non-integer."""

    def __init__(self, value, action):
        self.value, self.action = value, action

    def __index__(self):
        if self.action == "boom":
            raise Boom
        if self.action == "boom-base":
            raise BoomBase
        if self.action == "type-error":
            raise TypeError("mine")
        if self.action in ("read", "write"):
            poke(called[0], self.action == "write")
        if self.action == "swallow":
            try:
                poke(called[0], True)
            except RuntimeError:
                pass
        return "not an int" if self.action == "non-int" else self.value

    def __repr__(self):
        return f"Index({self.value!r}, {self.action!r})"


class Disguised(type):
    """A metaclass that answers __qualname__ with something that is not text."""

    def __getattribute__(cls, name):
        return 42 if name == "__qualname__" else super().__getattribute__(name)


class Masked(metaclass=Disguised):
    pass


class Sequence:
    """A sequence whose length and items are whatever it was given; reading an item past them,
    or any item when `items` is None, raises the caller's own exception."""

    def __init__(self, length, items):
        self.length, self.items = length, items

    def __len__(self):
        return self.length

    def __getitem__(self, i):
        if self.items is None or i >= len(self.items):
            raise Boom
        return self.items[i]

    def __repr__(self):
        return f"Sequence({self.length}, {self.items!r})"


ints = st.one_of(st.integers(-2**70, 2**70), st.integers(-3, 260),
                 st.sampled_from([127, 128, 2**31, 2**32, 2**63 - 1, 2**63, 2**64, -2**63 - 1]))
texts = st.text(st.characters(blacklist_categories=()), max_size=8)
colours = st.builds(ColorType, st.sampled_from([0, 1]) | st.sampled_from([0, 1, 2, 255]) | st.integers(0, 255))
kinds = st.builds(PieceType, st.integers(1, 8) | st.integers(0, 15) | st.integers(1, 8) | st.integers(0, 255))
addresses = st.builds(Address, st.integers(0, 255), st.integers(0, 255))
pieces = st.builds(Piece, colours, kinds)
moves = st.builds(Move, st.text(string.printable[:95], min_size=4, max_size=6))


def _started():
    board = Board()
    board.startpos()
    return board


def make_hand(counts, table):
    hand = Hand()
    hand.counts = counts
    if table is not None:
        hand.pieces = table
    return hand


def make_board(start, deploys, seed, plies):
    """A board from any deploys (wall squares, spare indices, kind None, colour None or
    ColorNumber included) and a few generated moves, failing ones skipped."""
    board = Board()
    if start:
        board.startpos()
    for index, kind, colour in deploys:
        board.deploy(index, PieceType(kind), ColorType(colour))
    for ply in range(plies):
        generated = board.search_moves((BLACK, WHITE)[ply % 2])
        if generated:
            try:
                board.execute_move(generated[(seed + ply * 7) % len(generated)])
            except (ValueError, OverflowError, PanicException):
                pass
    return board


hands = st.builds(make_hand, st.lists(st.sampled_from([0, 0, 1, 2, 254, 255]), min_size=16, max_size=16).map(bytes),
                  st.none() | st.lists(pieces, min_size=16, max_size=16))
boards = st.builds(make_board, st.booleans(),
                   st.lists(st.tuples(st.integers(0, 127), st.integers(0, 14), st.sampled_from([0, 1, 2, 255])),
                            max_size=10),
                   st.integers(0, 2**16), st.integers(0, 12))


def make_game(seed, plies):
    """A game after a few legal moves picked by the seed."""
    game = Game()
    for ply in range(plies):
        legal = game.legal_moves()
        if not legal:
            break
        game.push(legal[(seed + ply * 7) % len(legal)])
    return game


games = st.builds(make_game, st.integers(0, 2**16), st.integers(0, 30))
INSTANCES = {Address: addresses, ColorType: colours, PieceType: kinds, Piece: pieces, Move: moves,
             Hand: hands, Board: boards, Game: games}
SAMPLES = {Address: lambda: Address(7, 7), ColorType: lambda: ColorType(1), PieceType: lambda: PieceType(1),
           Piece: lambda: Piece(WHITE, PieceType.Rook), Move: lambda: Move("7g7f+"), Hand: Hand, Board: _started,
           Game: lambda: make_game(0, 2)}


def instance_of(cls):
    assert cls in SAMPLES, f"{cls.__name__}: no sample instance: add one to SAMPLES"
    return SAMPLES[cls]()


# One argument of the right kind for each parameter name: a call on a foreign receiver then
# fails on the receiver alone.
ARGUMENT_SAMPLES = {
    "index": 12, "piece_type": PAWN, "color": BLACK, "color_type": BLACK, "count": 1, "address": Address(1, 1),
    "moves": Move("7g7f"), "move": Move("9g9f"), "memo": {}, "value": 1, "usi": "7g7f", "depth": 1, "hand": Hand(),
    "board": Board(), "turn": BLACK, "ply": 1, "position": "startpos", "sfen": None, "data": Game().to_hcp(),
    "rng_seed": 1, "max_plies": 4,
}


def pickled_state(cls):
    """The state a sample instance of `cls` pickles with, or None when it has none."""
    reduced = instance_of(cls).__reduce__() if "__reduce__" in vars(cls) else ()
    return reduced[2] if len(reduced) > 2 else None


ACTIONS = [None, None, "boom", "boom-base", "type-error", "read", "write", "swallow", "non-int"]


SELF = object()  # stands for the object being called
indexes = st.builds(Index, st.integers(-1, 300), st.sampled_from(ACTIONS))
scalars = st.one_of(ints, st.floats(), st.booleans(), st.none(), texts, st.binary(max_size=20), indexes,
                    st.sampled_from([object(), 1j, int, len, ..., Masked(), SELF, SELF]),
                    colours, kinds, addresses, pieces, moves, st.builds(Hand), st.builds(Board), st.builds(_started),
                    st.builds(Game))
sixteen = st.one_of(st.lists(pieces, min_size=16, max_size=16), st.lists(st.integers(0, 255), min_size=16, max_size=16),
                    st.lists(ints | indexes | pieces | kinds | st.none(), min_size=16, max_size=16),
                    st.binary(min_size=16, max_size=16),
                    st.lists(indexes, min_size=16, max_size=16))
# Any Python value.
anything = st.one_of(scalars, scalars, indexes, sixteen, sixteen.map(tuple), st.lists(scalars, max_size=18),
                     st.builds(Sequence, st.integers(-1, 20) | st.just(2**64), st.none() | sixteen))


# ---------------------------------------------------------------------------------------------
# Every member

PANIC_WRITE = r"index \d+ out of range: Excluded\(128\)"
PANIC_READ = r"index \d+ out of bounds: 128"
PANIC_SLOT = r"index out of bounds: the len is 16 but the index is \d+"
PANIC_TEXT = r"byte index 2 is (?:out of bounds of|not a char boundary; it is inside) .*|" \
             r"index out of bounds: the len is ([01]) but the index is \1"


# Each member's parameters come from its text signature, and each parameter name has one
# strategy of well-typed values here, so that fuzzing also reaches the operations themselves.
# An attribute's setter takes one value named as the attribute.
integers = st.integers(0, 255) | st.sampled_from([0, 1, 127, 128, 254, 255, 256, -1]) | indexes
usi_texts = st.sampled_from(["7g7f", "2g2f", "3c3d", "P*5e", "8h2b+", "startpos", "sfen", "7g7f 3c3d"]) | texts
# A state for __setstate__: one that an instance of some class pickles with, or anything close.
reduced_states = st.sampled_from([c for c in INSTANCES if "__reduce__" in vars(c)]).flatmap(lambda c: INSTANCES[c]) \
    .map(lambda o: o.__reduce__()).filter(lambda r: len(r) > 2).map(lambda r: r[2])
states = st.one_of(reduced_states, st.integers(0, 2**16), ints, st.binary(max_size=20),
                   st.tuples(st.lists(pieces, min_size=16, max_size=16), st.binary(min_size=16, max_size=16)),
                   st.tuples(anything, anything), anything)
PARAMETERS = {
    "column": integers, "row": integers, "value": integers, "index": integers, "count": integers,
    "owner": colours, "color": colours, "color_type": colours, "piece_type": kinds,
    "address": addresses, "moves": moves, "csa": texts,
    "pieces": st.lists(pieces, min_size=16, max_size=16),
    "counts": st.lists(st.integers(0, 255), min_size=16, max_size=16) | st.lists(integers, min_size=16, max_size=16),
    "memo": st.dictionaries(st.integers(), scalars, max_size=3),
    "state": states,
    "hand": hands, "board": boards, "turn": colours, "ply": integers, "depth": st.integers(0, 2),
    "rng_seed": integers, "max_plies": st.integers(-1, 300),
    "move": moves | st.sampled_from(Game().legal_moves()),
    "usi": usi_texts, "position": usi_texts.map(lambda t: "startpos moves " + t) | usi_texts,
    "sfen": st.none() | games.map(lambda g: g.sfen()) | texts,
    "word": integers | st.integers(0, 0xFFFF) | texts,
    # packed positions: real ones, with a byte changed, of other lengths
    "data": games.map(lambda g: g.to_hcp()) | games.map(lambda g: g.to_psfen()) | st.binary(min_size=32, max_size=32)
    | st.tuples(games.map(lambda g: g.to_hcp()), st.integers(0, 31), st.integers(0, 255))
    .map(lambda t: t[0][:t[1]] + bytes([t[2]]) + t[0][t[1] + 1:]) | st.binary(max_size=40),
}
# Parameters whose value is an amount of work: their arbitrary values stay small too.
BOUNDED = {"depth": st.integers(-3, 2) | st.floats() | st.none() | texts | st.builds(Index, st.integers(-1, 2),
                                                                                    st.sampled_from(ACTIONS)),
           "max_plies": st.integers(-3, 300) | st.floats() | st.none() | texts}
# What a successful call returns, by member name; SAME is the receiver's class.
SAME = object()
NotImplementedType = type(NotImplemented)
RESULTS = {
    "__new__": SAME, "__copy__": SAME, "__deepcopy__": SAME, "__repr__": str, "__int__": int, "__reduce__": tuple,
    "__setstate__": type(None), "==": bool, "__lt__": NotImplementedType, "__le__": NotImplementedType,
    "__gt__": NotImplementedType, "__ge__": NotImplementedType,
    "to_int": int, "is_drop": bool, "is_promote": bool, "get_from": Address, "get_to": Address, "get_piece": Piece,
    "add_piece": type(None), "add_pieces": type(None), "decrease_piece": type(None), "get_player_pieces": list,
    "deploy": type(None), "startpos": type(None), "search_moves": list, "execute_move": type(None),
    "is_finished": tuple, "remove": type(None), "copy": SAME, "to_svg": str, "_repr_svg_": str,
    "from_board": SAME, "from_usi": SAME, "sfen": str, "usi": str, "legal_moves": list, "is_legal": bool,
    "push": type(None), "push_usi": Move, "pop": Move, "is_check": bool, "outcome": (type(None), tuple),
    "repetition_count": int, "can_declare": bool, "perft": int, "play_random": (type(None), tuple), "_from_word": Move,
    "check_moves": list, "mate_in_one": (type(None), Move),
    "to_hcp": bytes, "to_psfen": bytes, "from_hcp": SAME, "from_psfen": SAME,
    "turn": ColorType, "ply": int, "board": Board, "history": list,
}
# The fatal failures a member may end in, by "Class.member"; every other member has none.
PANICS = {
    "Move.__new__": PANIC_TEXT, "Board.deploy": PANIC_WRITE, "Board.get_piece": PANIC_READ,
    "Board.search_moves": PANIC_SLOT, "Board.execute_move": PANIC_SLOT, "Hand.add_piece": PANIC_SLOT,
    "Hand.add_pieces": PANIC_SLOT, "Hand.decrease_piece": PANIC_SLOT, "Hand.get_player_pieces": PANIC_SLOT,
}


def parameters(signature):
    """The parameter names of a text signature such as "($self, index, piece_type, color)",
    "($self, memo, /)" or "(sfen=None)", each with whether it has a default."""
    names = []
    for part in signature.strip()[1:-1].split(","):
        part = part.strip()
        if part and not part.startswith("$") and part not in ("/", "*"):
            name, _, default = part.partition("=")
            names.append((name.strip(), bool(default)))
    return tuple(names)


class Member:
    """One member of a class as the fuzzer calls it: "new" (the constructor), "set" (an
    attribute's setter), "get" (a read-only attribute), "compare" (== and != together), "call"
    (a method of an instance), "static" (a method of the class) or "unknown" (a kind of member
    the fuzzer cannot call)."""

    def __init__(self, cls, name, how, signature=()):
        self.cls, self.name, self.how = cls, name, how
        self.params = tuple(p for p, _ in signature)
        self.required = sum(1 for _, has_default in signature if not has_default)
        self.label = f"{cls.__name__}.{name}"


def members_of(cls):
    """Every member found in the class's own namespace. Its constants, the __doc__ and
    __module__ texts and the hash switched off (None) are not members."""
    for name, member in vars(cls).items():
        if name == "__new__":
            yield Member(cls, name, "new", parameters(cls.__text_signature__ or "()"))
        elif name == "__eq__":
            yield Member(cls, "==", "compare")
        elif name == "__ne__" or member is None or isinstance(member, (str, cls)):
            continue
        elif isinstance(member, types.GetSetDescriptorType):
            yield Member(cls, name, "set", ((name, False),)) if writable(member) else Member(cls, name, "get")
        elif isinstance(member, (staticmethod, types.MethodDescriptorType, types.WrapperDescriptorType,
                                 types.ClassMethodDescriptorType)):
            signature = getattr(member.__func__ if isinstance(member, staticmethod) else member,
                                "__text_signature__", None)
            if signature is None:
                yield Member(cls, name, "unknown")
            else:
                how = "call" if isinstance(member, (types.MethodDescriptorType, types.WrapperDescriptorType)) \
                    else "static"
                yield Member(cls, name, how, parameters(signature))
        else:
            yield Member(cls, name, "unknown")


def writable(attribute):
    """Whether an attribute takes a value: a sample instance is given its own value back."""
    sample = instance_of(attribute.__objclass__)
    try:
        attribute.__set__(sample, attribute.__get__(sample))
    except AttributeError:
        return False
    return True


MEMBERS = [member for cls in CLASSES for member in members_of(cls)]
# The members of the seven first classes, whose failures carry fixed wordings; the others (the full
# rules and what came with them) fail with ValueError or IndexError messages of their own.
FIXED_WORDING = {f"{cls.__name__}.{name}" for cls, names in {
    Address: "__new__ column row to_int", ColorType: "__new__ ==", PieceType: "__new__ ==",
    Piece: "__new__ owner piece_type", Move: "__new__ is_drop is_promote get_from get_to get_piece",
    Hand: "__new__ pieces counts add_piece add_pieces decrease_piece get_player_pieces",
    Board: "__new__ deploy startpos get_piece search_moves execute_move is_finished"}.items()
    for name in names.split()}


def invoke(receiver, member, args, kwargs):
    if member.how == "new":
        return member.cls(*args, **kwargs)
    if member.how == "set":
        return setattr(receiver, member.name, args[0])
    if member.how == "get":
        return getattr(receiver, member.name)
    if member.how == "compare":
        return (receiver == args[0], receiver != args[0])
    if member.how == "static":
        return getattr(member.cls, member.name)(*args, **kwargs)
    return getattr(receiver, member.name)(*args, **kwargs)


# CPython's own argument checks of the slot wrappers (__repr__, __int__, __lt__, ...).
WRAPPER_ERRORS = r"expected \d+ arguments?, got \d+|wrapper \w+\(\) takes no keyword arguments"


def check_failure(error, member):
    kind, cls, name = type(error), member.cls, member.name
    if kind is RuntimeError:
        assert str(error) in ("Already borrowed", "Already mutably borrowed")
    elif kind is PanicException:
        panic = PANICS.get(member.label)
        assert panic and re.fullmatch(panic, str(error), re.DOTALL), (member.label, str(error))
    elif kind is TypeError:
        names = member.params or (name,)
        assert str(error).startswith(tuple(f"argument '{n}': " for n in names) + (f"{cls.__name__}.",)) \
            or (isinstance(vars(cls).get(name), types.WrapperDescriptorType)
                and re.fullmatch(WRAPPER_ERRORS, str(error))), str(error)
    elif kind is UnicodeEncodeError:
        assert (cls, name) == (Move, "__new__")
    elif kind in (ValueError, IndexError) and member.label not in FIXED_WORDING:
        assert str(error), repr(error)
    elif kind is ValueError:
        assert re.fullmatch(r"expected a sequence of length \d+ \(got \d+\)|__len__\(\) should return >= 0|"
                            r"no (Black|White) \w+ in hand to take|no hand slot for \w+ \w+", str(error)), str(error)
    elif kind is OverflowError:
        assert re.fullmatch(r"out of range integral type conversion attempted|Python int too large to convert to C "
                            r"long|cannot fit 'int' into an index-sized integer|too many (Black|White) \w+ in hand: "
                            r"a count holds at most 255", str(error)), str(error)
    else:
        assert kind in (Boom, BoomBase), repr(error)


def draw_arguments(data, member):
    """Well-typed arguments from PARAMETERS half of the time, else any values, in any number,
    sometimes by keyword (a name of the member's or a bogus one)."""
    params = member.params
    if member.how == "compare":
        return (data.draw(anything, label="value"),), {}
    if data.draw(st.booleans(), label="well typed"):
        count = data.draw(st.integers(member.required, len(params)), label="count")
        return tuple(data.draw(PARAMETERS[p], label=p) for p in params[:count]), {}
    if member.how == "set":
        return (data.draw(anything, label="value"),), {}
    count = data.draw(st.sampled_from([len(params)] * 4 + list(range(len(params) + 2))))
    args = tuple(data.draw(BOUNDED.get(params[i] if i < len(params) else "", anything), label=f"arg{i}")
                 for i in range(count))
    keywords = data.draw(st.lists(st.sampled_from(params + ("bogus",)), unique=True, max_size=2)) \
        if data.draw(st.integers(0, 4)) == 0 else []
    return args, {k: data.draw(BOUNDED.get(k, anything), label=k) for k in keywords}


@pytest.mark.parametrize("member", MEMBERS, ids=[m.label for m in MEMBERS])
@FUZZ
@given(data=st.data())
def test_any_arguments(member, data):
    assert member.how != "unknown", f"{member.label}: a kind of member the fuzzer cannot call: teach members_of it"
    missing = [p for p in member.params if p not in PARAMETERS]
    assert not missing, f"{member.label}: no argument strategy for parameter {', '.join(missing)}: add it to PARAMETERS"
    assert member.how == "set" or member.name in RESULTS, f"{member.label}: no result type: add it to RESULTS"
    assert member.cls in INSTANCES, f"{member.cls.__name__}: no strategy for its instances: add it to INSTANCES"
    receiver = None if member.how in ("new", "static") else data.draw(INSTANCES[member.cls], label="receiver")
    called[0] = receiver
    args, kwargs = draw_arguments(data, member)
    args = tuple(receiver if a is SELF else a for a in args)
    kwargs = {k: receiver if v is SELF else v for k, v in kwargs.items()}
    arguments = [a for a in [*args, *kwargs.values()] if state(a) is not None and a is not receiver]
    before, arguments_before = state(receiver), [state(a) for a in arguments]
    try:
        result = invoke(receiver, member, args, kwargs)
    except BaseException as error:  # noqa: B036 - PanicException is only a BaseException
        # A comparison fails only with what the other operand's __index__ raises outside Exception.
        assert member.how != "compare" or type(error) is BoomBase, repr(error)
        event(type(error).__name__)
        check_failure(error, member)
        assert state(receiver) == before
    else:
        event("success")
        if member.how == "compare":
            other = args[0]
            expected = int(receiver) == int(other) if type(other) is member.cls else _index_equal(receiver, other)
            assert result == (expected, not expected)
        elif member.how != "set":
            expected = RESULTS[member.name]
            assert type(result) in ((member.cls,) if expected is SAME else expected if isinstance(expected, tuple)
                                    else (expected,)), (member.label, result)
    assert [state(a) for a in arguments] == arguments_before


def _index_equal(receiver, other):
    """How a ColorType or PieceType compares with anything but its own class: by the integer the
    other operand gives through __index__ (an ordinary error there means none), else by identity."""
    try:
        return int(receiver) == operator.index(other)
    except Exception:  # noqa: BLE001 - any Exception counts as "no integer"
        return other is receiver


ATTRIBUTES = [(m.cls, m.name) for m in MEMBERS if m.how == "set"]


@FUZZ
@given(st.sampled_from(ATTRIBUTES).flatmap(lambda a: st.tuples(st.just(a[1]), INSTANCES[a[0]])))
def test_attributes_cannot_be_deleted(attribute):
    name, obj = attribute
    before = state(obj)
    with pytest.raises(AttributeError, match="^can't delete attribute$"):
        delattr(obj, name)
    assert state(obj) == before


@FUZZ
@given(st.sampled_from(CLASSES).flatmap(lambda c: INSTANCES[c]), st.sampled_from(["<", "<=", ">", ">="]),
       st.one_of(ints, colours, kinds, st.none()))
def test_order_and_hash_are_refused(obj, op, other):
    compare = {"<": operator.lt, "<=": operator.le, ">": operator.gt, ">=": operator.ge}[op]
    with pytest.raises(TypeError):
        compare(obj, other)
    if isinstance(obj, (ColorType, PieceType)):
        with pytest.raises(TypeError):
            hash(obj)


# ---------------------------------------------------------------------------------------------
# Move text


def expected_outcome(text):
    """What Move(text) must do: the codec's error for a text that has no UTF-8 form, the panic of
    a text too short to hold a destination square, else a move."""
    try:
        data = text.encode("utf-8")
    except UnicodeEncodeError:
        return UnicodeEncodeError
    if len(data) < 4 or (len(data) > 2 and data[2] & 0xC0 == 0x80):
        return PanicException
    return Move


move_like = st.lists(st.sampled_from(list("0123456789`abcdefghijk*+PLNSGBRKplnsgbrk \x00") +
                                     ["\u00e9", "\u20ac", "\U0001f600", "\ud800", "\udfff"]), max_size=7).map("".join)


@settings(max_examples=600, derandomize=True, deadline=None)
@given(st.one_of(st.text(st.characters(blacklist_categories=())), texts, move_like))
def test_any_text_gives_a_move_or_the_documented_failure(text):
    expected = expected_outcome(text)
    try:
        move = Move(text)
    except BaseException as error:  # noqa: B036
        assert type(error) is expected
        if expected is PanicException:
            data, message = text.encode(), str(error)
            if len(data) < 2:
                assert message == f"byte index 2 is out of bounds of `{text}`"
            elif len(data) > 2 and data[2] & 0xC0 == 0x80:
                assert message.startswith("byte index 2 is not a char boundary; it is inside ")
                assert message.endswith(f"`{text}`") or message.endswith("`[...]")
            else:
                assert message == "index out of bounds: the len is {0} but the index is {0}".format(len(data) - 2)
        return
    assert expected is Move
    # Text written back parses to the same move, except for a drop of a piece without a kind (its
    # piece text is a blank, which does not say which side the word held) and a drop whose odd
    # destination spilled into the promote bit (a drop's text is read without one).
    if not (move.is_drop() and (int(move.get_piece().piece_type) == 0 or move.is_promote())):
        assert move_view(Move(move_text(move))) == move_view(move)


@settings(max_examples=40, derandomize=True, deadline=None)
@given(boards)
def test_generated_moves_read_back_from_their_text(board):
    for colour in (BLACK, WHITE):
        for move in board.search_moves(colour):
            assert move_view(Move(move_text(move))) == move_view(move)


# ---------------------------------------------------------------------------------------------
# Re-entrant callbacks


class _Callback:
    def __init__(self, action, swallow=False, value=16):
        self.action, self.swallow, self.value = action, swallow, value

    def __index__(self):
        try:
            self.action()
        except RuntimeError:
            if not self.swallow:
                raise
        return self.value


# Calls that run a callback while they hold their object exclusively: (object, call).
HOLDERS = {
    "deploy index": (_started, lambda b, cb: b.deploy(cb, PAWN, BLACK)),
    "add_pieces count": (Hand, lambda h, cb: h.add_pieces(BLACK, PAWN, cb)),
    "counts element": (Hand, lambda h, cb: setattr(h, "counts", [cb] * 16)),
    "counts length": (Hand, lambda h, cb: setattr(h, "counts", Sequence(cb, [cb] * 16))),
    "column value": (lambda: Address(1, 1), lambda a, cb: setattr(a, "column", cb)),
}
# What a callback may try on that object: reads want shared access, writes exclusive access.
READS = {Board: [lambda b: b.get_piece(Address(1, 1)), lambda b: b.search_moves(BLACK), repr,
                 lambda b: b.is_finished(), copy.copy],
         Hand: [lambda h: h.get_player_pieces(BLACK), lambda h: h.pieces, copy.deepcopy],
         Address: [lambda a: a.to_int(), lambda a: Board().get_piece(a), repr]}
WRITES = {Board: [lambda b: b.deploy(13, PAWN, WHITE), lambda b: b.execute_move(Move("5c5d")), lambda b: b.startpos()],
          Hand: [lambda h: h.decrease_piece(BLACK, PAWN), lambda h: setattr(h, "counts", bytes(16))],
          Address: [lambda a: setattr(a, "row", 5)]}
REENTRY = [(holder, inner, message) for holder, (make, _) in HOLDERS.items()
           for accesses, message in ((READS, "Already mutably borrowed"), (WRITES, "Already borrowed"))
           for inner in accesses[type(make())]]


@pytest.mark.parametrize("holder, inner, message", REENTRY,
                         ids=[f"{h}-{m.split()[1]}-{i}" for i, (h, _, m) in enumerate(REENTRY)])
def test_reentrant_callbacks_are_refused_and_change_nothing(holder, inner, message):
    make, call = HOLDERS[holder]
    obj = make()
    before, seen = state(obj), []

    def action():
        try:
            inner(obj)
        except RuntimeError as error:
            seen.append(str(error))
            raise

    with pytest.raises(RuntimeError, match=f"^{message}$"):
        call(obj, _Callback(action))
    assert seen == [message] and state(obj) == before
    # A callback that swallows the refusal lets the outer call finish normally, and afterwards
    # the object serves reads and writes again.
    call(obj, _Callback(action, swallow=True))
    assert len(seen) > 1 and set(seen) == {message}
    inner(obj)
    call(obj, 16)


# ---------------------------------------------------------------------------------------------
# One class's record is never read as another's


class Plain:
    pass


def descriptor_calls():
    """Every member of every class, taken from the class and applied to an instance of each other
    class, in each way Python allows."""
    for owner, other in itertools.permutations(CLASSES, 2):
        for name, member in vars(owner).items():
            target = instance_of(other)
            if isinstance(member, types.GetSetDescriptorType):
                yield f"{owner.__name__}.{name}.__get__({other.__name__})", lambda m=member, t=target: m.__get__(t)
                yield f"{owner.__name__}.{name}.__set__({other.__name__})", \
                    lambda m=member, t=target: m.__set__(t, m.__get__(instance_of(m.__objclass__)))
            elif isinstance(member, (types.MethodDescriptorType, types.WrapperDescriptorType)):
                args = tuple(pickled_state(owner) if p == "state" else ARGUMENT_SAMPLES[p]
                             for p, _ in parameters(member.__text_signature__))
                yield f"{owner.__name__}.{name}({other.__name__})", lambda m=member, t=target, a=args: m(t, *a)
                yield f"{owner.__name__}.{name}.__get__({other.__name__})", \
                    lambda m=member, t=target, a=args: m.__get__(t)(*a)
                yield f"MethodType({owner.__name__}.{name}, {other.__name__})", \
                    lambda m=member, t=target, a=args: types.MethodType(m, t)(*a)
        yield f"{owner.__name__}.__new__({other.__name__})", lambda o=owner, t=other: o.__new__(t)
        yield f"_reconstructor({owner.__name__}, {other.__name__})", \
            lambda o=owner, t=other: copyreg._reconstructor(o, t, instance_of(t))
        yield f"{owner.__name__} instance .__class__ = {other.__name__}", \
            lambda o=owner, t=other: setattr(instance_of(o), "__class__", t)


def foreign_class_tricks():
    for cls in CLASSES:
        yield f"object.__new__({cls.__name__})", lambda c=cls: object.__new__(c)
        yield f"{cls.__name__}.__new__(object)", lambda c=cls: c.__new__(object)
        yield f"{cls.__name__}.__new__(Plain)", lambda c=cls: c.__new__(Plain)
        yield f"_reconstructor({cls.__name__}, object)", lambda c=cls: copyreg._reconstructor(c, object, None)
        yield f"Plain instance .__class__ = {cls.__name__}", lambda c=cls: setattr(Plain(), "__class__", c)
        yield f"module .__class__ = {cls.__name__}", lambda c=cls: setattr(types.ModuleType("m"), "__class__", c)
        yield f"{cls.__name__} instance .__class__ = Plain", lambda c=cls: setattr(instance_of(c), "__class__", Plain)
        yield f"subclass of {cls.__name__}", lambda c=cls: type("Sub", (c,), {})
        yield f"type.__new__ with base {cls.__name__}", lambda c=cls: type.__new__(type, "Sub", (c,), {})
        yield f"super({cls.__name__}, Plain())", lambda c=cls: super(c, Plain())


def test_no_record_is_read_as_another_class():
    """Each of about a thousand such calls must be refused with TypeError before any record is
    read; one that succeeds or fails any other way has treated an object as a class it is not."""
    wrong = []
    for name, call in itertools.chain(descriptor_calls(), foreign_class_tricks()):
        try:
            call()
            wrong.append(f"{name}: no error")
        except TypeError:
            pass
        except BaseException as error:  # noqa: B036
            wrong.append(f"{name}: {type(error).__name__}: {error}")
    assert not wrong


def test_a_pickled_state_is_never_read_as_another_class():
    """A state that one class pickles with, given to another class's __setstate__, is refused and
    changes nothing."""
    accepted = []
    for owner, other in itertools.permutations(CLASSES, 2):
        foreign = pickled_state(other)
        if "__setstate__" not in vars(owner) or foreign is None:
            continue
        target = instance_of(owner)
        before = state(target)
        try:
            target.__setstate__(foreign)
            accepted.append(f"{owner.__name__}.__setstate__({other.__name__}'s state)")
        except (TypeError, ValueError):
            assert state(target) == before, owner
    assert not accepted


@FUZZ
@given(st.sampled_from(CLASSES).flatmap(lambda c: INSTANCES[c]), st.sampled_from(["pickle", "copy", "deepcopy"]))
def test_copies_and_pickles_are_equal_and_independent(obj, how):
    """A copy, deep copy or pickle round trip is an object of the same class showing the same
    state, and writing to it leaves the original alone. A class that does not define
    __reduce__ refuses to be pickled."""
    if how == "pickle" and "__reduce__" not in vars(type(obj)):
        with pytest.raises(TypeError):
            pickle.dumps(obj)
        return
    twin = {"pickle": lambda o: pickle.loads(pickle.dumps(o)), "copy": copy.copy, "deepcopy": copy.deepcopy}[how](obj)
    before = state(obj)
    assert type(twin) is type(obj) and state(twin) == before
    try:
        poke(twin, True)
    except (ValueError, OverflowError, PanicException):
        pass
    assert state(obj) == before


@pytest.mark.parametrize("call, message", [
    (lambda: Move(Masked()), "argument 'csa': '42' object cannot be converted to 'PyString'"),
    (lambda: Board().get_piece(Masked()), "argument 'address': '42' object cannot be converted to 'Address'"),
    (lambda: setattr(Hand(), "counts", Masked()), "argument 'counts': '42' object cannot be converted to 'Sequence'"),
])
def test_a_type_whose_name_is_not_text(call, message):
    with pytest.raises(TypeError) as info:
        call()
    assert str(info.value) == message


@pytest.mark.parametrize("left, right", [(ColorType(0), PieceType(0)), (ColorType(1), PieceType(1)),
                                         (PieceType(1), ColorType(1)), (ColorType(255), PieceType(255)),
                                         (ColorType(1), Address(1, 0)), (PieceType(8), Piece(BLACK, PAWN)),
                                         (PieceType(1), Move("1a1a")), (ColorType(0), Hand()),
                                         (PieceType(0), Board())])
def test_comparison_with_another_class_is_identity(left, right):
    """The same-sized ColorType and PieceType records, and every other class, compare unequal
    instead of being read as the receiver's number."""
    assert (left == right, right == left, left != right, right != left) == (False, False, True, True)
