"""The argument parser: its messages and which error wins."""
import re

import pytest

from quillmatch import (_ingest_borrow, _ingest_borrow_and_deref, _ingest_owned, damerau_batch,
                        damerau_bp, jaro_winkler_batch, jaro_winkler_similarity,
                        levenshtein_batch, levenshtein_bp)

CASES = [
    (lambda: levenshtein_bp("a"),
     "levenshtein_bp() missing 1 required positional argument: 'str_2'"),
    (lambda: levenshtein_bp(),
     "levenshtein_bp() missing 2 required positional arguments: 'str_1' and 'str_2'"),
    (lambda: levenshtein_bp(str_2="b"),
     "levenshtein_bp() missing 1 required positional argument: 'str_1'"),
    (lambda: levenshtein_batch(candidates=[]),
     "levenshtein_batch() missing 1 required positional argument: 'query'"),
    (lambda: _ingest_borrow(),
     "_ingest_borrow() missing 1 required positional argument: 'candidates'"),
    (lambda: levenshtein_bp("a", "b", None, None, None, None),
     "levenshtein_bp() takes from 2 to 5 positional arguments but 6 were given"),
    (lambda: jaro_winkler_similarity(*"abcdefg"),
     "jaro_winkler_similarity() takes from 2 to 6 positional arguments but 7 were given"),
    (lambda: jaro_winkler_batch("a", [], None, None, None),
     "jaro_winkler_batch() takes from 2 to 4 positional arguments but 5 were given"),
    (lambda: _ingest_owned([], []),
     "_ingest_owned() takes 1 positional arguments but 2 were given"),
    (lambda: levenshtein_bp("a", "b", str_1="c"),
     "levenshtein_bp() got multiple values for argument 'str_1'"),
    (lambda: levenshtein_bp("a", "b", maxlen=3),
     "levenshtein_bp() got an unexpected keyword argument 'maxlen'"),
    (lambda: damerau_bp("a", "b", **{"é": 1}),
     "damerau_bp() got an unexpected keyword argument 'é'"),
    # A key without a UTF-8 form names no parameter.
    (lambda: damerau_bp("a", "b", **{"\ud800": 1}),
     "damerau_bp() got an unexpected keyword argument '\ud800'"),
    # Precedence: too many positionals before keywords, keywords before missing ones.
    (lambda: levenshtein_bp("a", "b", 1, 2, 3, 4, maxlen=3),
     "levenshtein_bp() takes from 2 to 5 positional arguments but 6 were given"),
    (lambda: levenshtein_bp(maxlen=3),
     "levenshtein_bp() got an unexpected keyword argument 'maxlen'"),
    (lambda: levenshtein_bp("a", zz=1, str_1="b"),
     "levenshtein_bp() got an unexpected keyword argument 'zz'"),
    (lambda: levenshtein_bp("a", str_1="b", zz=1),
     "levenshtein_bp() got multiple values for argument 'str_1'"),
    (lambda: levenshtein_bp("a", "b", yy=1, zz=2),
     "levenshtein_bp() got an unexpected keyword argument 'yy'"),
    # Parsing comes before any conversion.
    (lambda: levenshtein_bp(1, 2, 3, 4, 5, 6),
     "levenshtein_bp() takes from 2 to 5 positional arguments but 6 were given"),
    (lambda: levenshtein_bp(1, 2, zz=1),
     "levenshtein_bp() got an unexpected keyword argument 'zz'"),
    (lambda: levenshtein_batch(1, candidates=2, query=3),
     "levenshtein_batch() got multiple values for argument 'query'"),
    # Every function's counts.
    (lambda: damerau_bp(*"abcdef"),
     "damerau_bp() takes from 2 to 5 positional arguments but 6 were given"),
    (lambda: levenshtein_batch("a", [], None, None),
     "levenshtein_batch() takes from 2 to 3 positional arguments but 4 were given"),
    (lambda: damerau_batch("a", [], None, None, None),
     "damerau_batch() takes from 2 to 3 positional arguments but 5 were given"),
    (lambda: _ingest_borrow_and_deref([], [], []),
     "_ingest_borrow_and_deref() takes 1 positional arguments but 3 were given"),
    (lambda: jaro_winkler_batch(),
     "jaro_winkler_batch() missing 2 required positional arguments: 'query' and 'candidates'"),
    (lambda: jaro_winkler_similarity(str_2="b", p=0.1),
     "jaro_winkler_similarity() missing 1 required positional argument: 'str_1'"),
    (lambda: damerau_batch("a"),
     "damerau_batch() missing 1 required positional argument: 'candidates'"),
    # An option given by position and by keyword.
    (lambda: levenshtein_bp("a", "b", 3, max_len=3),
     "levenshtein_bp() got multiple values for argument 'max_len'"),
    (lambda: jaro_winkler_batch("a", [], 0.1, p=0.1),
     "jaro_winkler_batch() got multiple values for argument 'p'"),
    # Names are compared exactly.
    (lambda: levenshtein_bp("a", "b", Max_len=3),
     "levenshtein_bp() got an unexpected keyword argument 'Max_len'"),
    (lambda: levenshtein_bp("a", "b", max_len_=3),
     "levenshtein_bp() got an unexpected keyword argument 'max_len_'"),
    (lambda: levenshtein_bp("a", "b", **{"max_len\0": 3}),
     "levenshtein_bp() got an unexpected keyword argument 'max_len\0'"),
]


@pytest.mark.parametrize("call, message", CASES)
def test_parser_message(call, message):
    with pytest.raises(TypeError, match=f"^{re.escape(message)}$") as excinfo:
        call()
    assert excinfo.type is TypeError
    assert not hasattr(excinfo.value, "__notes__")


def test_keywords_fill_slots_by_name():
    assert levenshtein_bp(str_2="b", str_1="a") == 1
    assert levenshtein_bp("abc", str_2="abd", score_cutoff=0) == 1
    assert jaro_winkler_similarity(str_1="MARTHA", str_2="MARHTA", p=0.0) == 0.9444444444444445
    assert _ingest_owned(candidates=["a"]) == 1


def test_absent_and_none_options_are_the_same():
    assert levenshtein_bp("a", "b", None, None, None) == levenshtein_bp("a", "b") == 1
    assert jaro_winkler_batch("a", ["a"], None, None) == [1.0]


class Key(str):
    """A keyword given as a str subclass is matched by its text."""


def test_str_subclass_keywords_match_by_text():
    assert levenshtein_bp(**{Key("str_1"): "ab", Key("str_2"): "ba"}) == 2
    # Equal keys built at run time are other objects than the interned names.
    assert levenshtein_bp(**{"".join(["str", "_1"]): "ab", "str_" + "2": "ba"}) == 2
    flag = "".join(["case_", "insensitive"])
    for function in (levenshtein_bp, damerau_bp):
        assert function("AB", "ba", **{flag: True}) == function("AB", "ba", case_insensitive=True)
    assert jaro_winkler_similarity("Ab", "ab", **{Key("case_insensitive"): True}) == 1.0
    with pytest.raises(TypeError, match=re.escape("got an unexpected keyword argument 'zz'")):
        levenshtein_bp("a", "b", **{Key("zz"): 1})
