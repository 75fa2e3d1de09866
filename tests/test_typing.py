"""The type stub: its signatures against the module's, its place in the
installed distribution, and mypy's verdict on right and wrong calls."""
import ast
import importlib.metadata
import importlib.util
import inspect
import os
import pathlib
import re
import subprocess
import sys
import textwrap

import pytest

import quillmatch

ROOT = pathlib.Path(__file__).resolve().parent.parent
STUB = ROOT / "py" / "quillmatch.pyi"
# The Dask example is type-checked only where Dask is installed.
EXAMPLES = [path for path in sorted((ROOT / "examples").glob("*.py"))
            if path.stem != "dask_scale_out" or importlib.util.find_spec("dask") is not None]


def stub_functions():
    tree = ast.parse(STUB.read_text(encoding="utf-8"))
    return {node.name: node for node in tree.body if isinstance(node, ast.FunctionDef)}


def stub_all():
    tree = ast.parse(STUB.read_text(encoding="utf-8"))
    for node in tree.body:
        if isinstance(node, ast.Assign) and node.targets[0].id == "__all__":
            return ast.literal_eval(node.value)
    raise AssertionError("the stub defines no __all__")


# Parameter annotations and return annotation of each function, as written.
EXPECTED = {
    "levenshtein_bp": (["str", "str", "Optional[int]", "Optional[_Flag]", "Optional[int]"], "int"),
    "damerau_bp": (["str", "str", "Optional[int]", "Optional[_Flag]", "Optional[int]"], "int"),
    "jaro_winkler_similarity": (
        ["str", "str", "Optional[float]", "Optional[int]", "Optional[_Flag]", "Optional[float]"],
        "float"),
    "levenshtein_batch": (["str", "_Candidates", "Optional[_Flag]"], "list[int]"),
    "damerau_batch": (["str", "_Candidates", "Optional[_Flag]"], "list[int]"),
    "jaro_winkler_batch": (["str", "_Candidates", "Optional[float]", "Optional[_Flag]"],
                           "list[float]"),
    "_ingest_owned": (["_Candidates"], "int"),
    "_ingest_borrow": (["_Candidates"], "int"),
    "_ingest_borrow_and_deref": (["_Candidates"], "int"),
}


def test_stub_lists_exactly_the_module_functions():
    assert stub_all() == quillmatch.__all__
    assert list(stub_functions()) == quillmatch.__all__


@pytest.mark.parametrize("name", quillmatch.__all__)
def test_stub_signature_agrees_with_the_module(name):
    node = stub_functions()[name]
    args = node.args
    assert not args.posonlyargs and not args.kwonlyargs
    assert args.vararg is None and args.kwarg is None
    runtime = inspect.signature(getattr(quillmatch, name)).parameters.values()
    assert [a.arg for a in args.args] == [p.name for p in runtime]
    assert all(p.kind is inspect.Parameter.POSITIONAL_OR_KEYWORD for p in runtime)
    # Defaults align with the last parameters; every one of them is None.
    stub_defaults = [None] * (len(args.args) - len(args.defaults)) + [
        ast.literal_eval(d) for d in args.defaults]
    runtime_defaults = [None if p.default is inspect.Parameter.empty else p.default
                        for p in runtime]
    assert stub_defaults == runtime_defaults
    required = [p.default is inspect.Parameter.empty for p in runtime]
    assert required == [i < len(args.args) - len(args.defaults) for i in range(len(args.args))]
    annotations, returns = EXPECTED[name]
    assert [ast.unparse(a.annotation) for a in args.args] == annotations
    assert ast.unparse(node.returns) == returns


def test_installed_distribution_carries_the_stub_twice():
    try:
        files = importlib.metadata.files("quillmatch")
    except importlib.metadata.PackageNotFoundError:
        pytest.skip("quillmatch is not installed as a distribution")
    by_name = {str(f): f for f in files}
    loaded = pathlib.Path(quillmatch.__file__).resolve()
    if not any(pathlib.Path(f.locate()).resolve() == loaded for f in files):
        pytest.skip("the imported module is not the installed distribution's")
    expected = STUB.read_bytes()
    for stub in ("quillmatch.pyi", "quillmatch-stubs/__init__.pyi"):
        assert stub in by_name, f"{stub} missing from the installed wheel"
        assert by_name[stub].locate().read_bytes() == expected
    assert not any(name.startswith("include/") or name.endswith(".a") for name in by_name)


def run_mypy(tmp_path, *paths):
    pytest.importorskip("mypy")
    env = dict(os.environ, MYPYPATH=str(STUB.parent))
    result = subprocess.run(
        [sys.executable, "-m", "mypy", "--strict", "--no-error-summary",
         "--cache-dir", str(tmp_path / "mypy-cache"), *map(str, paths)],
        capture_output=True, text=True, env=env, cwd=tmp_path)
    return result.returncode, result.stdout + result.stderr


def test_mypy_strict_accepts_the_examples_and_correct_calls(tmp_path):
    good = tmp_path / "good.py"
    good.write_text(textwrap.dedent("""\
        from __future__ import annotations

        from typing import Iterator

        import quillmatch

        words: list[str] = ["kitten", "sitting"]
        d: int = quillmatch.levenshtein_bp("kitten", "sitting", max_len=10,
                                           case_insensitive=True, score_cutoff=2)
        o: int = quillmatch.damerau_bp("teh", "the", None, None, None)
        s: float = quillmatch.jaro_winkler_similarity("a", "b", p=0.25, score_cutoff=0.5)
        s = quillmatch.jaro_winkler_similarity("a", "b", p=0)
        ds: list[int] = quillmatch.levenshtein_batch("kitten", words)
        os_: list[int] = quillmatch.damerau_batch("kitten", ("a", "b"), case_insensitive=False)
        ss: list[float] = quillmatch.jaro_winkler_batch(query="x", candidates=words, p=None)
        n: int = quillmatch._ingest_borrow_and_deref(words)

        class Array:  # shaped as a NumPy array of str: no Sequence
            def __getitem__(self, index: int) -> str: return "a"
            def __iter__(self) -> Iterator[str]: return iter(["a"])

        class Bool:  # shaped as numpy.bool_
            def __bool__(self) -> bool: return True
            def item(self) -> bool: return True

        ds = quillmatch.levenshtein_batch("a", Array(), case_insensitive=Bool())
        d = quillmatch.levenshtein_bp("a", "b", case_insensitive=Bool())
        """))
    code, output = run_mypy(tmp_path, good, *EXAMPLES)
    assert code == 0, output


def test_mypy_strict_accepts_numpy_arrays_and_bools(tmp_path):
    pytest.importorskip("numpy")
    good = tmp_path / "with_numpy.py"
    good.write_text(textwrap.dedent("""\
        from __future__ import annotations

        import numpy as np
        import numpy.typing as npt

        import quillmatch

        words = np.array(["kitten", "sitting"])
        typed: npt.NDArray[np.str_] = words
        ds: list[int] = quillmatch.damerau_batch("kitten", words, case_insensitive=np.bool_(True))
        ss: list[float] = quillmatch.jaro_winkler_batch("kitten", typed, None, words.any())
        d: int = quillmatch.levenshtein_bp("a", "A", case_insensitive=np.True_)
        """))
    code, output = run_mypy(tmp_path, good)
    assert code == 0, output


def test_stubtest_finds_the_stub_consistent_with_the_module(tmp_path):
    pytest.importorskip("mypy.stubtest")
    env = dict(os.environ, MYPYPATH=str(STUB.parent))
    result = subprocess.run([sys.executable, "-m", "mypy.stubtest", "quillmatch"],
                            capture_output=True, text=True, env=env, cwd=tmp_path)
    assert result.returncode == 0, result.stdout + result.stderr


# Each wrong call and the mypy error code it must draw.
WRONG_CALLS = [
    ('quillmatch.levenshtein_bp("a", 1)', "arg-type"),
    ('quillmatch.levenshtein_bp("a", "b", max_len=2.5)', "arg-type"),
    ('quillmatch.damerau_bp("a", "b", case_insensitive=1)', "arg-type"),
    ('quillmatch.levenshtein_bp("a", "b", maxlen=3)', "call-arg"),
    ('quillmatch.levenshtein_bp("a")', "call-arg"),
    ('quillmatch.jaro_winkler_similarity("a", "b", p="x")', "arg-type"),
    ('quillmatch.levenshtein_batch("a", [1, 2])', "list-item"),
    ('quillmatch.damerau_batch("a", {"b"})', "arg-type"),
    ('quillmatch.damerau_batch("a", {1: "b"})', "arg-type"),  # a dict is refused at run time
    ('quillmatch.levenshtein_bp("a", "b", case_insensitive=0.0)', "arg-type"),
    ('x: list[int] = quillmatch.jaro_winkler_batch("a", ["b"])', "assignment"),
    ('y: int = quillmatch.jaro_winkler_similarity("a", "b")', "assignment"),
    ('quillmatch.levenshtein_distance("a", "b")', "attr-defined"),
]


def test_mypy_strict_rejects_wrong_calls(tmp_path):
    bad = tmp_path / "bad.py"
    bad.write_text("import quillmatch\n\n" + "".join(call + "\n" for call, _ in WRONG_CALLS))
    code, output = run_mypy(tmp_path, bad)
    assert code == 1, output
    codes = {}
    for match in re.finditer(r"^bad\.py:(\d+): error: .*\[([a-z-]+)\]$", output, re.M):
        codes.setdefault(int(match[1]) - 3, set()).add(match[2])
    for index, (call, code_name) in enumerate(WRONG_CALLS):
        assert code_name in codes.get(index, set()), f"{call}: {output}"
