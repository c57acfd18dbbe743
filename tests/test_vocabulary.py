"""ColorType, PieceType, Piece and Address through the public surface."""
import pytest

from velkorant import Address, ColorType, Piece, PieceType

NONE_COLOR = getattr(ColorType, "None")
NONE_KIND = getattr(PieceType, "None")

COLORS = {"None": -1, "Black": 0, "White": 1, "ColorNumber": 2}
KINDS = ["None", "King", "Gold", "Rook", "Bichop", "Silver", "Knight", "Lance", "Pawn",
         "Dragon", "Horse", "ProSilver", "ProKnight", "ProLance", "ProPawn"]


class Mine(Exception):
    pass


class MineBase(BaseException):
    pass


class Failing:
    """An object whose integer conversion raises `error`."""

    def __init__(self, error):
        self.error = error

    def __index__(self):
        raise self.error("no number here")


class TestColorType:
    @pytest.mark.parametrize("name,number", COLORS.items())
    def test_members(self, name, number):
        member = getattr(ColorType, name)
        assert int(member) == number
        assert repr(member) == f"velkorant.ColorType({number % 256})"
        assert member is getattr(ColorType, name)
        assert ColorType(number % 256) == member
        assert ColorType(number % 256) is not member

    @pytest.mark.parametrize("value", [3, 100, 200, 254, 255])
    def test_other_bytes_are_none(self, value):
        assert ColorType(value) == NONE_COLOR

    @pytest.mark.parametrize("value", [-1, 256, 2**70])
    def test_out_of_range(self, value):
        with pytest.raises(OverflowError):
            ColorType(value)

    def test_none_compares_by_signed_number(self):
        assert NONE_COLOR == -1 and -1 == NONE_COLOR
        assert NONE_COLOR != 255
        assert ColorType.White == True  # noqa: E712  (bool is an int)


class TestPieceType:
    @pytest.mark.parametrize("number,name", list(enumerate(KINDS)))
    def test_members(self, number, name):
        member = getattr(PieceType, name)
        assert int(member) == number
        assert repr(member) == f"velkorant.PieceType({number})"
        assert PieceType(number) == member

    @pytest.mark.parametrize("value", [0, 15, 16, 255])
    def test_other_bytes_are_none(self, value):
        assert PieceType(value) == NONE_KIND

    def test_comparison(self):
        assert PieceType.King == 1 and 1 == PieceType.King
        assert not (PieceType.King == -1)
        assert PieceType.King != -1
        assert not (PieceType.King == ColorType.White)
        assert PieceType.King != "King"
        assert PieceType(8) == PieceType.Pawn and PieceType(8) is not PieceType.Pawn
        with pytest.raises(TypeError):
            PieceType.King < PieceType.Gold
        with pytest.raises(TypeError):
            ColorType.Black >= ColorType.White

    @pytest.mark.parametrize("member", [PieceType.King, ColorType.Black], ids=["PieceType", "ColorType"])
    @pytest.mark.parametrize("error", [RuntimeError, ValueError, TypeError, OverflowError, Mine])
    def test_comparison_with_failing_index_is_not_implemented(self, member, error):
        """An ordinary failure of the other operand's conversion means "not an integer"."""
        other = Failing(error)
        assert (member == other, other == member, member != other, other != member) == (False, False, True, True)

    @pytest.mark.parametrize("member", [PieceType.King, ColorType.Black], ids=["PieceType", "ColorType"])
    @pytest.mark.parametrize("error", [KeyboardInterrupt, SystemExit, GeneratorExit, MineBase])
    @pytest.mark.parametrize("compare", [lambda a, b: a == b, lambda a, b: a != b, lambda a, b: b == a,
                                         lambda a, b: b != a], ids=["==", "!=", "reflected ==", "reflected !="])
    def test_comparison_lets_errors_outside_exception_through(self, member, error, compare):
        """A Ctrl-C, an exit or any error that is not an Exception is never swallowed."""
        with pytest.raises(error):
            compare(member, Failing(error))

    @pytest.mark.parametrize("member", [PieceType.King, ColorType.Black])
    def test_unhashable_and_no_index(self, member):
        with pytest.raises(TypeError):
            hash(member)
        with pytest.raises(TypeError):
            {member}
        with pytest.raises(TypeError):
            [0, 1, 2][member]
        assert [0, 1, 2][int(member)] == int(member)


class TestPiece:
    @pytest.mark.parametrize("owner,kind,text", [
        (ColorType.White, PieceType.Pawn, "p"),
        (ColorType.Black, PieceType.Dragon, "+R"),
        (ColorType.White, PieceType.ProSilver, "+s"),
        (NONE_COLOR, PieceType.King, "k"),
        (ColorType.ColorNumber, PieceType.Gold, "g"),
        (ColorType.Black, NONE_KIND, " "),
        (ColorType.White, NONE_KIND, " "),
    ])
    def test_repr(self, owner, kind, text):
        assert repr(Piece(owner, kind)) == f"velkorant.Piece({text})"

    def test_attributes_are_copies(self):
        p = Piece(ColorType.Black, PieceType.King)
        owner = p.owner
        assert owner == ColorType.Black and owner is not ColorType.Black
        p.owner = ColorType.White
        p.piece_type = PieceType.Horse
        assert owner == ColorType.Black
        assert p.owner == ColorType.White and repr(p) == "velkorant.Piece(+b)"

    def test_identity_semantics(self):
        a, b = Piece(ColorType.Black, PieceType.King), Piece(ColorType.Black, PieceType.King)
        assert a != b and a == a
        assert len({a, b}) == 2

    @pytest.mark.parametrize("args,message", [
        ((0, PieceType.King), "argument 'owner': 'int' object cannot be converted to 'ColorType'"),
        ((ColorType.Black, 1), "argument 'piece_type': 'int' object cannot be converted to 'PieceType'"),
        ((PieceType.King, ColorType.Black), "argument 'owner': 'PieceType' object cannot be converted to 'ColorType'"),
    ])
    def test_bad_arguments(self, args, message):
        with pytest.raises(TypeError) as info:
            Piece(*args)
        assert str(info.value) == message

    def test_failed_assignment_and_deletion_change_nothing(self):
        p = Piece(ColorType.Black, PieceType.Silver)
        with pytest.raises(TypeError, match="^argument 'owner': 'int' object cannot be converted to 'ColorType'$"):
            p.owner = 1
        for name in ("owner", "piece_type"):
            with pytest.raises(AttributeError, match="^can't delete attribute$"):
                delattr(p, name)
        assert repr(p) == "velkorant.Piece(S)" and p.owner == ColorType.Black


class TestAddress:
    @pytest.mark.parametrize("column,row,index,text", [
        (7, 7, 84, "7g"), (1, 1, 12, "1a"), (9, 9, 108, "9i"), (10, 10, 120, ":j"),
        (0, 0, 0, "0`"), (0, 24, 8, "0x"), (255, 255, 244, "/_"),
        (200, 1, 211, "\u00f8a"), (208, 160, 176, "\x00\x00"),
    ])
    def test_index_and_text(self, column, row, index, text):
        a = Address(column, row)
        assert a.to_int() == index
        assert repr(a) == f"velkorant.Address({text})"

    def test_attributes(self):
        a = Address(7, 7)
        a.column, a.row = 2, 3
        assert (a.column, a.row, a.to_int()) == (2, 3, 35)
        with pytest.raises(OverflowError, match="^out of range integral type conversion attempted$"):
            a.row = 256
        with pytest.raises(TypeError, match="^argument 'column': "):
            a.column = 1.5
        with pytest.raises(AttributeError, match="^can't delete attribute$"):
            del a.row
        assert (a.column, a.row) == (2, 3)
        assert Address(7, 7) != Address(7, 7)

    @pytest.mark.parametrize("args,error", [((-1, 0), OverflowError), ((256, 0), OverflowError),
                                            ((1.5, 1), TypeError), (("1", 1), TypeError)])
    def test_bad_arguments(self, args, error):
        with pytest.raises(error):
            Address(*args)
