"""The module object: functions, __all__, signatures, the binary's exports."""
import inspect
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
