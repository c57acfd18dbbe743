"""What ships besides the native core: the package, the stub of the core's classes (complete,
the one source of their docstrings, installed, accepted by the type checkers) and the typed
example that exercises them."""
import ast
import importlib.metadata
import inspect
import os
import subprocess
import sys
import types
from pathlib import Path

import pytest

import velkorant

ROOT = Path(__file__).resolve().parents[1]
PACKAGE = ROOT / "python"
SOURCE_STUB = PACKAGE / "velkorant" / "_core.pyi"
TYPED_TOUR = ROOT / "examples" / "typed_tour.py"

# Every class attribute named None is left out of the stub: it cannot be written in Python source.
UNWRITABLE = {"None"}
# The rich-comparison slot also creates the four ordering wrappers; they always answer
# NotImplemented, so the stub leaves them out and a type checker refuses `<` as Python does.
ORDERING = {"__lt__", "__le__", "__gt__", "__ge__"}
# Set by CPython on every type, never written in a stub.
IMPLICIT = {"__doc__", "__module__"}


def _installed_stub():
    try:
        files = importlib.metadata.files("velkorant") or []
    except importlib.metadata.PackageNotFoundError:
        return None
    found = [f for f in files if str(f).replace("\\", "/") == "velkorant/_core.pyi"]
    return Path(found[0].locate()) if found else None


INSTALLED_STUB = _installed_stub()
STUB = SOURCE_STUB if SOURCE_STUB.is_file() else INSTALLED_STUB
if STUB is None:
    pytest.skip("neither the source tree nor an installed stub is at hand",
                allow_module_level=True)
TREE = ast.parse(STUB.read_text(encoding="utf-8"), str(STUB))
STUB_CLASSES = {node.name: node for node in TREE.body if isinstance(node, ast.ClassDef)}


def _members(node):
    names = {}
    for item in node.body:
        if isinstance(item, ast.FunctionDef):
            names.setdefault(item.name, item)  # a property's setter repeats the getter's name
        elif isinstance(item, ast.AnnAssign) and isinstance(item.target, ast.Name):
            names[item.target.id] = item
    return names


def _is_property(function):
    """A getter (@property) or a setter (@name.setter)."""
    return any((isinstance(d, ast.Name) and d.id == "property") or isinstance(d, ast.Attribute)
               for d in function.decorator_list)


def test_stub_module_lists_the_runtime_classes():
    (stub_all,) = [ast.literal_eval(n.value) for n in TREE.body
                   if isinstance(n, ast.Assign) and n.targets[0].id == "__all__"]
    assert stub_all == velkorant.__all__
    assert list(STUB_CLASSES) == velkorant.__all__
    public = {n for n in dir(velkorant) if not n.startswith("_")}
    extra = public - set(velkorant.__all__)
    assert all(isinstance(getattr(velkorant, n), types.ModuleType) for n in extra), "submodules only, once imported"


@pytest.mark.parametrize("name", velkorant.__all__)
def test_stub_lists_exactly_the_runtime_members(name):
    runtime = getattr(velkorant, name)
    expected = set(vars(runtime)) - IMPLICIT - UNWRITABLE
    if "__eq__" in expected:
        expected -= ORDERING
    assert set(_members(STUB_CLASSES[name])) == expected
    if "None" in vars(runtime):
        assert f'getattr({name}, "None")' in ast.get_docstring(STUB_CLASSES[name])


@pytest.mark.parametrize("name", velkorant.__all__)
def test_stub_parameters_are_the_runtime_parameters(name):
    runtime = getattr(velkorant, name)
    for member, node in _members(STUB_CLASSES[name]).items():
        if isinstance(node, ast.AnnAssign):
            if "Final" in ast.unparse(node.annotation):  # a constant: an instance of its class
                assert type(getattr(runtime, member)) is runtime, member
            continue
        if _is_property(node):
            continue
        static = any(isinstance(d, ast.Name) and d.id == "staticmethod" for d in node.decorator_list)
        stub_params = [a.arg for a in node.args.posonlyargs + node.args.args][0 if static else 1:]
        target = runtime if member == "__new__" else getattr(runtime, member)
        signature = inspect.signature(target)
        runtime_params = [p for p in signature.parameters if p != "self"]
        assert stub_params == runtime_params, f"{name}.{member}"
        # Defaults are the runtime's, written the same way.
        stub_defaults = [ast.literal_eval(d) for d in node.args.defaults]
        runtime_defaults = [p.default for p in signature.parameters.values() if p.default is not p.empty]
        assert stub_defaults == runtime_defaults, f"{name}.{member}"
        if not member.startswith("__"):  # plain methods take every argument by position or name
            assert not node.args.posonlyargs and not node.args.kwonlyargs


@pytest.mark.parametrize("name", velkorant.__all__)
def test_runtime_docstrings_are_the_stub_docstrings(name):
    runtime = getattr(velkorant, name)
    for member, node in _members(STUB_CLASSES[name]).items():
        slot = type(vars(runtime).get(member)).__name__ == "wrapper_descriptor"  # CPython's own text
        if isinstance(node, ast.FunctionDef) and member not in ("__new__", "__hash__") and not slot:
            assert inspect.getdoc(getattr(runtime, member)) == ast.get_docstring(node), f"{name}.{member}"


def test_every_stub_member_is_documented():
    undocumented = [f"{cls.name}.{member}"
                    for cls in STUB_CLASSES.values() for member, node in _members(cls).items()
                    if member != "__hash__" and not _has_docstring(cls, member, node)]
    assert not undocumented
    assert all(ast.get_docstring(cls) for cls in STUB_CLASSES.values())


def _has_docstring(cls, member, node):
    if isinstance(node, ast.FunctionDef):
        return ast.get_docstring(node) is not None
    following = cls.body[cls.body.index(node) + 1:][:1]  # an attribute's docstring follows it
    return bool(following) and isinstance(following[0], ast.Expr) \
        and isinstance(following[0].value, ast.Constant) and isinstance(following[0].value.value, str)


def test_installed_stub_is_the_source_stub():
    if INSTALLED_STUB is None:
        pytest.skip("velkorant is not installed from a wheel or an editable build")
    assert INSTALLED_STUB.parent.name == "velkorant"
    assert (INSTALLED_STUB.parent / "py.typed").is_file()
    if SOURCE_STUB.is_file():
        assert INSTALLED_STUB.read_bytes() == SOURCE_STUB.read_bytes(), "reinstall: the stub changed"


@pytest.fixture
def stub_path():
    """The package as the checkers read it: the source tree's, else the installed one."""
    return PACKAGE if SOURCE_STUB.is_file() else INSTALLED_STUB.parent.parent


def _run(args, tmp_path, **env):
    result = subprocess.run(args, cwd=tmp_path, capture_output=True, text=True,
                            env={**os.environ, **env}, timeout=300)
    return result.returncode, result.stdout + result.stderr


def test_stub_matches_runtime_under_stubtest(stub_path, tmp_path):
    pytest.importorskip("mypy.stubtest")
    allowlist = tmp_path / "allowlist.txt"
    allowlist.write_text("velkorant._core.ColorType.None\nvelkorant._core.PieceType.None\n")
    code, output = _run([sys.executable, "-m", "mypy.stubtest", "velkorant._core", "velkorant._env", "--allowlist",
                         str(allowlist), "--mypy-config-file", os.devnull], tmp_path,
                        MYPYPATH=str(stub_path))
    assert code == 0, output


@pytest.mark.skipif(not TYPED_TOUR.is_file(), reason="examples/ is not beside the tests")
def test_typed_tour_and_package_pass_mypy_strict(stub_path, tmp_path):
    pytest.importorskip("mypy.api")
    code, output = _run([sys.executable, "-m", "mypy", "--strict", "--no-incremental",
                         "--config-file", os.devnull, str(TYPED_TOUR), str(stub_path / "velkorant")], tmp_path,
                        MYPYPATH=str(stub_path))
    assert code == 0, output


@pytest.mark.skipif(not TYPED_TOUR.is_file(), reason="examples/ is not beside the tests")
def test_typed_tour_passes_basedpyright(stub_path, tmp_path):
    pytest.importorskip("basedpyright")
    (tmp_path / "pyrightconfig.json").write_text(
        '{"stubPath": "%s", "pythonVersion": "%d.%d"}' % ((stub_path.as_posix(),) + sys.version_info[:2]))
    code, output = _run([sys.executable, "-m", "basedpyright", "--project", str(tmp_path),
                         str(TYPED_TOUR)], tmp_path)
    assert code == 0, output
    assert "0 errors, 0 warnings" in output, output


@pytest.mark.skipif(not TYPED_TOUR.is_file(), reason="examples/ is not beside the tests")
def test_typed_tour_runs():
    code, output = _run([sys.executable, str(TYPED_TOUR)], TYPED_TOUR.parent)
    assert code == 0, output
