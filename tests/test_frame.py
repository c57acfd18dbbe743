"""What every class shares at the boundary: argument matching and conversion, borrowing,
fatal failures, the types themselves, the module, and reference balance."""
import gc
import subprocess
import sys
import textwrap
import threading
import weakref

import pytest

import velkorant
from velkorant import Address, Board, ColorType, Hand, Move, Piece, PieceType

from support.surface import Index

CLASSES = [Address, ColorType, PieceType, Piece, Move, Hand, Board]


class TestMatching:
    @pytest.mark.parametrize("call,message", [
        (lambda h: h.add_pieces(),
         "Hand.add_pieces() missing 3 required positional arguments: 'color_type', 'piece_type' and 'count'"),
        (lambda h: h.add_pieces(ColorType.Black),
         "Hand.add_pieces() missing 2 required positional arguments: 'piece_type' and 'count'"),
        (lambda h: h.add_pieces(count=1),
         "Hand.add_pieces() missing 2 required positional arguments: 'color_type' and 'piece_type'"),
        (lambda h: h.add_pieces(ColorType.Black, count=2),
         "Hand.add_pieces() missing 1 required positional argument: 'piece_type'"),
        (lambda h: h.get_player_pieces(ColorType.Black, ColorType.White),
         "Hand.get_player_pieces() takes 1 positional arguments but 2 were given"),
        (lambda h: h.add_pieces(1, 2, 3, 4, bogus=5),
         "Hand.add_pieces() takes 3 positional arguments but 4 were given"),
        (lambda h: h.add_piece(ColorType.Black, bogus=1, color_type=ColorType.Black),
         "Hand.add_piece() got an unexpected keyword argument 'bogus'"),
        (lambda h: h.add_piece(ColorType.Black, color_type=ColorType.Black, bogus=1),
         "Hand.add_piece() got multiple values for argument 'color_type'"),
        (lambda h: h.add_pieces(bogus=1),
         "Hand.add_pieces() got an unexpected keyword argument 'bogus'"),
        (lambda h: Hand(1), "Hand.__new__() takes 0 positional arguments but 1 was given"),
        (lambda h: Hand(x=1), "Hand.__new__() got an unexpected keyword argument 'x'"),
        (lambda h: Address(1, 2, 3), "Address.__new__() takes 2 positional arguments but 3 were given"),
        (lambda h: Address(1, column=2), "Address.__new__() got multiple values for argument 'column'"),
        (lambda h: Address(row=2), "Address.__new__() missing 1 required positional argument: 'column'"),
        (lambda h: Move(), "Move.__new__() missing 1 required positional argument: 'csa'"),
    ])
    def test_messages(self, call, message):
        hand = Hand()
        with pytest.raises(TypeError) as info:
            call(hand)
        assert str(info.value) == message
        assert hand.counts == bytes(16)

    def test_keywords_in_any_order(self):
        hand = Hand()
        hand.add_pieces(count=2, piece_type=PieceType.Gold, color_type=ColorType.White)
        assert Address(row=3, column=4).to_int() == 37
        assert hand.counts[9] == 2

    def test_no_argument_methods_refuse_arguments(self):
        with pytest.raises(TypeError):
            Board().startpos(1)
        with pytest.raises(TypeError):
            Address(1, 1).to_int(x=1)


class TestConversion:
    def test_index_protocol_accepted(self):
        assert Address(Index(3), True).to_int() == 14

    @pytest.mark.parametrize("value,error,message", [
        ("a", TypeError, "argument 'count': 'str' object cannot be interpreted as an integer"),
        (1.0, TypeError, "argument 'count': 'float' object cannot be interpreted as an integer"),
        (None, TypeError, "argument 'count': 'NoneType' object cannot be interpreted as an integer"),
        (256, OverflowError, "out of range integral type conversion attempted"),
        (-1, OverflowError, "out of range integral type conversion attempted"),
        (2**70, OverflowError, "Python int too large to convert to C long"),
        (-2**70, OverflowError, "Python int too large to convert to C long"),
    ])
    def test_integer_failures(self, value, error, message):
        hand = Hand()
        with pytest.raises(error) as info:
            hand.add_pieces(ColorType.Black, PieceType.Pawn, value)
        assert type(info.value) is error and str(info.value) == message
        assert hand.counts == bytes(16)

    def test_type_error_from_index_is_prefixed_and_keeps_its_cause(self):
        cause = ValueError("the cause")

        def fail():
            raise TypeError("custom") from cause

        with pytest.raises(TypeError) as info:
            Address(Index(1, fail), 1)
        assert str(info.value) == "argument 'column': custom"
        assert info.value.__cause__ is cause

    def test_other_errors_from_index_pass_unchanged(self):
        def fail():
            raise KeyError("mine")

        with pytest.raises(KeyError):
            Address(1, Index(1, fail))

    @pytest.mark.parametrize("call,message", [
        (lambda: Move(5), "argument 'csa': 'int' object cannot be converted to 'PyString'"),
        (lambda: Move(b"7g7f"), "argument 'csa': 'bytes' object cannot be converted to 'PyString'"),
        (lambda: Board().get_piece((1, 1)), "argument 'address': 'tuple' object cannot be converted to 'Address'"),
        (lambda: Board().execute_move("7g7f"), "argument 'moves': 'str' object cannot be converted to 'Move'"),
        (lambda: Board().search_moves(0), "argument 'color': 'int' object cannot be converted to 'ColorType'"),
        (lambda: Hand().add_piece(ColorType.Black, Board()),
         "argument 'piece_type': 'Board' object cannot be converted to 'PieceType'"),
    ])
    def test_class_and_text_failures(self, call, message):
        with pytest.raises(TypeError) as info:
            call()
        assert str(info.value) == message

    def test_unencodable_text_passes_the_codec_error(self):
        with pytest.raises(UnicodeEncodeError):
            Move("7g\ud8007f")


class TestBorrowing:
    def test_reading_during_a_write_fails(self):
        hand = Hand()
        with pytest.raises(RuntimeError, match="^Already mutably borrowed$"):
            hand.add_pieces(ColorType.Black, PieceType.Pawn, Index(1, lambda: hand.counts))
        assert hand.counts == bytes(16)

    def test_writing_during_a_write_fails(self):
        hand = Hand()
        with pytest.raises(RuntimeError, match="^Already borrowed$"):
            hand.counts = [Index(1, lambda: hand.add_piece(ColorType.Black, PieceType.Pawn))] * 16
        assert hand.counts == bytes(16)

    def test_borrowed_argument_being_written(self):
        board, address = Board(), Address(1, 1)
        with pytest.raises(RuntimeError, match="^Already mutably borrowed$"):
            address.row = Index(2, lambda: board.get_piece(address))
        assert (address.row, repr(address)) == (1, "velkorant.Address(1a)")

    def test_borrows_are_released_after_every_failure(self, panic):
        board, hand = Board(), Hand()
        with pytest.raises(panic):
            board.deploy(200, PieceType.Pawn, ColorType.Black)
        with pytest.raises(RuntimeError):
            hand.add_pieces(ColorType.Black, PieceType.Pawn, Index(1, lambda: hand.counts))
        with pytest.raises(OverflowError):
            hand.add_pieces(ColorType.Black, PieceType.Pawn, 300)
        board.deploy(12, PieceType.Pawn, ColorType.Black)
        hand.add_piece(ColorType.Black, PieceType.Pawn)
        assert hand.counts[7] == 1 and repr(board).endswith("/P8)")

    def test_nested_reads_are_allowed(self):
        board = Board()
        board.startpos()
        seen = []
        address = Address(Index(5, lambda: seen.append(repr(board.get_piece(Address(5, 1))))), 1)
        assert repr(board.get_piece(address)) == "velkorant.Piece(K)" and seen == ["velkorant.Piece(K)"]


class TestSearchDuringSearch:
    """search_moves returns its own board's moves whatever Python code runs during the call:
    building the result list allocates, an allocation can start the garbage collector, and the
    collector runs callbacks and finalizers that may generate moves on another board.

    Each case runs in a fresh interpreter: whether an allocation starts a collection depends on
    the collector's state, which the rest of the suite changes (a collection that is under way
    in any frame of the process starts no other). Every list made while the collector runs this
    often is kept alive: a freed list would go to the list free list, and a list taken from there
    is not an allocation that starts a collection."""

    PRELUDE = textwrap.dedent("""
        import gc, threading
        from velkorant import Board, ColorType, PieceType
        board, other = Board(), Board()
        board.startpos()
        other.deploy(60, PieceType.Rook, ColorType.White)
        expected = [repr(m) for m in board.search_moves(ColorType.Black)]
        expected_other = [repr(m) for m in other.search_moves(ColorType.White)]
        kept = []

        def collecting_often(callback):
            spare = [[] for _ in range(200)]   # empties the list free list
            gc.callbacks.append(callback)
            gc.set_threshold(1)
            return spare

        def collecting_normally(callback):
            gc.set_threshold(700)
            gc.callbacks.remove(callback)

        def own_lists(results, wanted=expected):
            return all([repr(m) for m in r] == wanted for r in results)
    """)

    @classmethod
    def run_isolated(cls, body):
        source = cls.PRELUDE + textwrap.dedent(body) + "\nprint('ok')\n"
        result = subprocess.run([sys.executable, "-c", source], capture_output=True, text=True, timeout=120)
        assert result.returncode == 0 and result.stdout.strip() == "ok", result.stderr[-2000:]

    def test_a_gc_callback_searching_another_board(self):
        self.run_isolated("""
            def callback(phase, info):
                if phase == "start":
                    kept.append(other.search_moves(ColorType.White))

            spare = collecting_often(callback)
            try:
                results = [board.search_moves(ColorType.Black) for _ in range(20)]
            finally:
                collecting_normally(callback)
            assert spare and kept and own_lists(results)
        """)

    def test_finalizers_in_cycles_searching_another_board(self):
        self.run_isolated("""
            class Cycle:
                def __init__(self):
                    self.me = self

                def __del__(self):
                    kept.append(other.search_moves(ColorType.White))

            def callback(phase, info):
                pass

            spare = collecting_often(callback)
            try:
                results = []
                for _ in range(20):
                    Cycle()
                    results.append(board.search_moves(ColorType.Black))
            finally:
                collecting_normally(callback)
            assert spare and kept and own_lists(results)
        """)

    def test_two_threads_each_with_its_own_board(self):
        """In the middle of every collection in this thread's call, a second thread runs a whole
        call on its own board."""
        self.run_isolated("""
            go, done, stop = threading.Event(), threading.Event(), []
            first = threading.current_thread()

            def second():
                while go.wait() and not stop:
                    go.clear()
                    kept.append(other.search_moves(ColorType.White))
                    done.set()

            def callback(phase, info):
                if phase == "start" and threading.current_thread() is first:
                    done.clear()
                    go.set()
                    done.wait()

            thread = threading.Thread(target=second)
            thread.start()
            spare = collecting_often(callback)
            try:
                results = [board.search_moves(ColorType.Black) for _ in range(20)]
            finally:
                collecting_normally(callback)
                stop.append(True)
                go.set()
                thread.join()
            assert spare and kept and own_lists(results) and own_lists(kept, expected_other)
        """)


class TestPanic:
    def test_panic_is_a_base_exception(self, panic):
        assert panic.__bases__ == (BaseException,)
        assert panic.__name__ == "PanicException"
        assert f"{panic.__module__}.{panic.__qualname__}" == "pyo3_runtime.PanicException"
        assert "BaseException" in panic.__doc__
        assert not hasattr(velkorant, "PanicException")

    def test_not_caught_by_except_exception(self, panic):
        caught = None
        try:
            try:
                Board().deploy(200, PieceType.Pawn, ColorType.Black)
            except Exception:  # noqa: BLE001 - the point: this clause must not catch it
                caught = "Exception"
        except BaseException as error:
            caught = error
        assert type(caught) is panic
        assert str(caught) == "index 200 out of range: Excluded(128)"

    def test_one_type_for_every_failure(self, panic):
        with pytest.raises(panic):
            Hand().get_player_pieces(ColorType.ColorNumber)
        with pytest.raises(panic):
            Move("")


class TestTypes:
    @pytest.mark.parametrize("cls", CLASSES)
    def test_shape(self, cls):
        assert cls.__module__ == "velkorant"
        assert cls.__name__ == cls.__qualname__
        assert cls.__bases__ == (object,)
        with pytest.raises(TypeError):
            type("Sub", (cls,), {})
        with pytest.raises(TypeError):
            cls.extra = 1

    @pytest.mark.parametrize("make", [lambda: Address(1, 1), lambda: ColorType.Black, lambda: PieceType.King,
                                      lambda: Piece(ColorType.Black, PieceType.King), lambda: Move("7g7f"),
                                      Hand, Board])
    def test_instances_have_no_dict_and_no_weak_references(self, make):
        obj = make()
        with pytest.raises(AttributeError):
            obj.extra = 1
        with pytest.raises(TypeError):
            weakref.ref(obj)

    def test_class_attributes_are_read_only(self):
        with pytest.raises(TypeError):
            ColorType.Black = ColorType.White
        with pytest.raises(TypeError):
            setattr(PieceType, "None", PieceType.King)
        assert int(ColorType.Black) == 0 and int(getattr(PieceType, "None")) == 0

    def test_class_of_an_instance_cannot_change(self):
        with pytest.raises(TypeError):
            Address(1, 1).__class__ = Piece
        with pytest.raises(TypeError):
            ColorType.Black.__class__ = PieceType

    @pytest.mark.parametrize("cls,signature", [
        (Address, "(column, row)"), (ColorType, "(value)"), (PieceType, "(value)"),
        (Piece, "(owner, piece_type)"), (Move, "(csa)"), (Hand, "()"), (Board, "()"),
    ])
    def test_signatures(self, cls, signature):
        assert cls.__text_signature__ == signature
        assert cls.__doc__ == ""  # the stored text is only the signature

    @pytest.mark.parametrize("method,signature", [
        (Board.deploy, "($self, index, piece_type, color)"), (Board.startpos, "($self)"),
        (Board.search_moves, "($self, color)"), (Board.execute_move, "($self, moves)"),
        (Hand.add_pieces, "($self, color_type, piece_type, count)"), (Address.to_int, "($self)"),
        (Move.get_piece, "($self)"),
    ])
    def test_method_signatures(self, method, signature):
        assert method.__text_signature__ == signature

    def test_descriptor_checks_the_receiver(self):
        with pytest.raises(TypeError):
            Board.search_moves(Hand(), ColorType.Black)


def test_module():
    core = velkorant._core
    for module in velkorant, core:
        assert module.__all__ == ["Address", "ColorType", "PieceType", "Piece", "Move", "Hand", "Board", "Game"]
        assert all(getattr(module, name) is getattr(core, name) for name in module.__all__)
    assert core.__doc__ == "" and velkorant.__doc__  # the package, unlike its native core, documents itself
    assert all(getattr(velkorant, name).__name__ == name for name in velkorant.__all__)


def test_second_initialisation_fails():
    script = (
        "import importlib, sys, velkorant\n"
        "del sys.modules['velkorant'], sys.modules['velkorant._core']\n"
        "try:\n"
        "    importlib.import_module('velkorant._core')\n"
        "except ImportError as e:\n"
        "    print(e)\n")
    out = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, check=True).stdout
    assert out.strip().endswith("may only be initialized once per interpreter process")


def test_reference_counts_balance():
    board = Board()
    board.startpos()
    hand = Hand()

    def workload():
        for _ in range(2000):
            ColorType(1) == ColorType.White
            PieceType(3) != 2
            Piece(ColorType.Black, PieceType.Rook).owner
            repr(Address(3, 4))
            hand.counts = bytes(16)
            hand.pieces
            moves = board.search_moves(ColorType.Black)
            repr(moves[0])
            moves[0].get_from()
            board.is_finished()
            for bad in (lambda: Address(300, 1), lambda: Hand().add_piece(1, 2), lambda: Move("ab"),
                        lambda: board.deploy(1, 2, 3), lambda: hand.add_pieces(ColorType.Black, PieceType.Pawn, "x"),
                        lambda: Hand().decrease_piece(ColorType.Black, PieceType.Pawn)):
                try:
                    bad()
                except BaseException:
                    pass

    workload()  # warm caches and free lists
    before = sys.getallocatedblocks()
    for _ in range(5):
        workload()
    assert sys.getallocatedblocks() - before < 100
