"""The ingest probes: counts and byte totals; the intake errors they share
with the batch functions are in test_batch_functions.py."""
import pytest

from support import raises_exactly
from quillmatch import _ingest_borrow, _ingest_borrow_and_deref, _ingest_owned

PROBES = [_ingest_owned, _ingest_borrow, _ingest_borrow_and_deref]

# (candidates, count, UTF-8 bytes)
PROBE_CASES = [
    ([], 0, 0),
    ((), 0, 0),
    (["a", "bc", ""], 3, 3),
    (["é"], 1, 2),
    (["日本"], 1, 6),
    (["😀", "a😀"], 2, 9),
    (["", "", ""], 3, 0),
    (["x" * 100_000, "y"], 2, 100_001),
    (["ab"] * 10_001, 10_001, 20_002),
    (("é", "x" * 65, "😀"), 3, 71),
]


class ReversedList(list):
    def __iter__(self):
        return reversed(self[:1])


class ReversedTuple(tuple):
    def __iter__(self):
        return iter(("é",))


@pytest.mark.parametrize("probe", PROBES)
def test_subclasses_are_taken_in_through_their_iterator(probe):
    # Exact lists and tuples are read by index; subclasses may iterate otherwise.
    want = 2 if probe is _ingest_borrow_and_deref else 1
    assert probe(ReversedList(["é", "abc"])) == want
    assert probe(ReversedTuple(("abc", "de"))) == want


@pytest.mark.parametrize("candidates, count, total", PROBE_CASES,
                         ids=[str(i) for i in range(len(PROBE_CASES))])
def test_probe_results(candidates, count, total):
    for probe, want in [(_ingest_owned, count), (_ingest_borrow, count),
                        (_ingest_borrow_and_deref, total)]:
        result = probe(candidates)
        assert type(result) is int and result == want
        assert probe(candidates=candidates) == want


@pytest.mark.parametrize("probe", PROBES)
def test_probe_parser_messages(probe):
    name = probe.__name__
    with raises_exactly(TypeError, f"{name}() takes 1 positional arguments but 2 were given"):
        probe([], [])
    with raises_exactly(TypeError, f"{name}() missing 1 required positional argument: 'candidates'"):
        probe()
    with raises_exactly(TypeError, f"{name}() got an unexpected keyword argument 'candidate'"):
        probe(candidate=[])
    with raises_exactly(TypeError, f"{name}() got multiple values for argument 'candidates'"):
        probe([], candidates=[])


@pytest.mark.parametrize("probe", PROBES)
def test_nothing_returned_for_elements_before_a_bad_one(probe):
    with raises_exactly(TypeError, "'int' object is not an instance of 'str'", note="candidates"):
        probe(["a", 1])
    with raises_exactly(TypeError, "'None' is not an instance of 'str'", note="candidates"):
        probe(("a", None))
    with raises_exactly(UnicodeEncodeError, "'utf-8' codec can't encode character '\\ud800' "
                        "in position 0: surrogates not allowed", note="candidates"):
        probe(("a", "\ud800"))
    with raises_exactly(TypeError, "Can't extract `str` to `Vec`", note="candidates"):
        probe("abc")
