import pytest

from support import surface
from support.engines import ModelEngine, ModuleEngine


@pytest.fixture
def panic():
    """PanicException, which the module raises but does not export."""
    if surface.PanicException is None:
        pytest.skip("velkorant is not built")
    return surface.PanicException


@pytest.fixture(params=["model", "module"])
def engine(request):
    """The module and the test model in turn, behind one interface."""
    if request.param == "model":
        return ModelEngine()
    if surface.velkorant is None:
        pytest.skip("velkorant is not built")
    return ModuleEngine()
