"""The module object: functions, __all__, signatures, the binary's exports."""
import importlib.util
import inspect
import pathlib
import shutil
import subprocess

import pytest

import quillmatch

SIGNATURES = {
    "levenshtein_bp": "(str_1, str_2, max_len=None, case_insensitive=None, score_cutoff=None)",
    "damerau_bp": "(str_1, str_2, max_len=None, case_insensitive=None, score_cutoff=None)",
    "jaro_winkler_similarity":
        "(str_1, str_2, p=None, max_len=None, case_insensitive=None, score_cutoff=None)",
    "levenshtein_batch": "(query, candidates, case_insensitive=None)",
    "damerau_batch": "(query, candidates, case_insensitive=None)",
    "jaro_winkler_batch": "(query, candidates, p=None, case_insensitive=None)",
    "_ingest_owned": "(candidates)",
    "_ingest_borrow": "(candidates)",
    "_ingest_borrow_and_deref": "(candidates)",
}


def test_all_lists_the_nine_functions_in_order():
    assert quillmatch.__all__ == list(SIGNATURES)
    assert quillmatch.__doc__ == ""


def test_each_uncached_import_makes_a_new_module():
    # Initialised in phases, the module is created and filled anew by each
    # import that bypasses sys.modules; a module initialised once would hand
    # out copies of the same function objects.
    spec = importlib.util.find_spec("quillmatch")
    first, second = (importlib.util.module_from_spec(spec) for _ in range(2))
    for module in (first, second):
        spec.loader.exec_module(module)
    assert first is not second and quillmatch not in (first, second)
    assert first.__all__ == second.__all__ == list(SIGNATURES)
    assert first.__all__ is not second.__all__
    for name in SIGNATURES:
        assert getattr(first, name) is not getattr(second, name)
    assert first.levenshtein_bp("kitten", "sitting") == second.levenshtein_bp("kitten", "sitting") == 3


@pytest.mark.parametrize("name", SIGNATURES)
def test_function_object(name):
    function = getattr(quillmatch, name)
    assert type(function).__name__ == "builtin_function_or_method"
    assert function.__name__ == name
    assert function.__module__ == "quillmatch"
    assert function.__doc__ is None
    assert function.__text_signature__ == SIGNATURES[name]
    assert str(inspect.signature(function)) == SIGNATURES[name]


def test_binary_is_abi3_and_exports_only_the_init_function():
    assert quillmatch.__file__.endswith(".abi3.so")
    nm = shutil.which("nm")
    if nm is None:
        pytest.skip("nm is not installed")
    output = subprocess.run([nm, "-D", "--defined-only", quillmatch.__file__],
                            check=True, capture_output=True, text=True).stdout
    assert [line.split()[-1] for line in output.splitlines()] == ["PyInit_quillmatch"]


@pytest.mark.skipif(shutil.which("cmake") is None, reason="needs cmake")
@pytest.mark.parametrize("gil_disabled", ["0", "1"])
def test_configuration_refuses_a_free_threaded_interpreter(tmp_path, gil_disabled):
    # A stand-in interpreter answers the sysconfig question as 3.13t would.
    python = tmp_path / "python"
    python.write_text(f"#!/bin/sh\necho {gil_disabled}\n")
    python.chmod(0o755)
    check = pathlib.Path(__file__).resolve().parent.parent / "cmake" / "refuse_free_threaded.cmake"
    script = tmp_path / "check.cmake"
    script.write_text(f'include("{check.as_posix()}")\nquillmatch_refuse_free_threaded("{python}")\n')
    result = subprocess.run(["cmake", "-P", script], capture_output=True, text=True)
    if gil_disabled == "0":
        assert result.returncode == 0, result.stderr
    else:
        assert result.returncode != 0
        assert "cannot be built for the free-threaded interpreter" in " ".join(result.stderr.split())
