import pytest

import velkorant


def _panic_type():
    try:
        velkorant.Board().deploy(200, velkorant.PieceType.Pawn, velkorant.ColorType.Black)
    except BaseException as error:  # the fatal-failure type is only reachable from a raised error
        return type(error)
    raise AssertionError("deploy on index 200 did not fail")


PanicException = _panic_type()


@pytest.fixture
def panic():
    return PanicException
