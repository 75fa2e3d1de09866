"""The batch functions: worked values, agreement with the pair functions on
every path, and the intake of the candidate sequence."""
import collections
import collections.abc
import math
import sys

import numpy
import pytest

from support import (ALPHABETS, BORDER_LENGTHS, FOLDING_ALPHABETS, Boom, bits,
                      invalid_prefix_scale, mutate, random_text, raises_exactly)
from quillmatch import (_ingest_borrow, _ingest_borrow_and_deref, _ingest_owned, damerau_batch,
                        damerau_bp, jaro_winkler_batch, jaro_winkler_similarity,
                        levenshtein_batch, levenshtein_bp)

BATCHES = [levenshtein_batch, damerau_batch, jaro_winkler_batch]
# Everything that takes a candidate sequence in the same way.
INTAKES = BATCHES + [_ingest_owned, _ingest_borrow, _ingest_borrow_and_deref]
PAIR_OF = {levenshtein_batch: levenshtein_bp, damerau_batch: damerau_bp,
           jaro_winkler_batch: jaro_winkler_similarity}

BATCH_CASES = [
    (levenshtein_batch, "", ["", "abc", "日本"], {}, [0, 3, 2]),
    (levenshtein_batch, "", ["İ"], {"case_insensitive": True}, [1]),
    (levenshtein_batch, "abc", [""], {}, [3]),
    (levenshtein_batch, "ab", ["ba", "ab", "b", "CA"], {}, [2, 0, 1, 2]),
    (levenshtein_batch, "a", ["abca", "abcabcaca"], {}, [3, 8]),
    (levenshtein_batch, "Ab", ["ba", "BA", "ab", "AB"], {"case_insensitive": True}, [2, 2, 0, 0]),
    (levenshtein_batch, "Ab", ["ba", "BA", "ab", "AB"], {"case_insensitive": False}, [2, 2, 1, 1]),
    (levenshtein_batch, "[", ["{"], {"case_insensitive": True}, [1]),
    (levenshtein_batch, "abc", ["abç"], {}, [1]),
    (levenshtein_batch, "日本", ["本日", "日本", "x"], {}, [2, 0, 2]),
    (levenshtein_batch, "abc", ["x" * 200], {}, [200]),
    # Each distance up to 256 is one object shared by a list's items; beyond it, one each.
    (levenshtein_batch, "abc", ["x" * 256, "x" * 257, "abx", "x" * 258, "x" * 256], {},
     [256, 257, 1, 258, 256]),
    (levenshtein_batch, "ab", ["ab", "ab", "x", "ab"], {}, [0, 0, 2, 0]),
    (damerau_batch, "", ["", "abc", "日本"], {}, [0, 3, 2]),
    (damerau_batch, "", ["İ"], {"case_insensitive": True}, [1]),
    (damerau_batch, "abc", [""], {}, [3]),
    (damerau_batch, "ab", ["ba", "ab", "b", "CA"], {}, [1, 0, 1, 2]),
    (damerau_batch, "Ab", ["ba", "BA", "ab", "AB"], {"case_insensitive": True}, [1, 1, 0, 0]),
    (damerau_batch, "Ab", ["ba", "BA", "ab", "AB"], {"case_insensitive": False}, [2, 2, 1, 1]),
    (damerau_batch, "[", ["{"], {"case_insensitive": True}, [1]),
    (damerau_batch, "CA", ["ABC"], {}, [3]),
    (damerau_batch, "abc", ["abç"], {}, [1]),
    (damerau_batch, "日本", ["本日", "日本", "x"], {}, [1, 0, 2]),
    (damerau_batch, "abc", ["x" * 200], {}, [200]),
    (damerau_batch, "abc", ["x" * 257, "x" * 256, "bac", "x" * 257], {}, [257, 256, 1, 257]),
    (jaro_winkler_batch, "MARTHA", ["MARHTA", "martha", "", "MARTHA"], {},
     [0.9611111111111111, 0.0, 0.0, 1.0]),
    (jaro_winkler_batch, "MARTHA", ["MARHTA", "martha", "", "MARTHA"], {"case_insensitive": True},
     [0.9611111111111111, 1.0, 0.0, 1.0]),
    (jaro_winkler_batch, "", ["", "a"], {}, [1.0, 0.0]),
    (jaro_winkler_batch, "", ["", "İ"], {"case_insensitive": True}, [1.0, 0.0]),
    (jaro_winkler_batch, "listen", ["silent"], {}, [0.8888888888888888]),
    (jaro_winkler_batch, "abcxyz", ["bcaxyz"], {}, [0.9444444444444445]),
    (jaro_winkler_batch, "ABCDEFGHIJKLMNOPQ", ["abcdefghijklmnopr"], {"case_insensitive": True},
     [0.9764705882352941]),
    (jaro_winkler_batch, "İ", ["i"], {"case_insensitive": True}, [0.8500000000000001]),
    (jaro_winkler_batch, "heart", ["earth"], {}, [0.8666666666666667]),
    (jaro_winkler_batch, "MARTHA", ["MARHTA"], {"p": 0}, [0.9444444444444445]),
    (jaro_winkler_batch, "abcdx", ["abcdy"], {"p": 0.25}, [1.0]),
]


@pytest.mark.parametrize("function, query, candidates, options, want", BATCH_CASES)
def test_batch_values(function, query, candidates, options, want):
    result = function(query, candidates, **options)
    assert type(result) is list
    item_type = float if function is jaro_winkler_batch else int
    assert [type(item) for item in result] == [item_type] * len(want)
    assert [bits(float(item)) for item in result] == [bits(float(item)) for item in want]


@pytest.mark.parametrize("empty", [[], ()])
@pytest.mark.parametrize("function", BATCHES)
def test_empty_candidates(function, empty):
    assert function("abc", empty) == []
    assert function("", empty, case_insensitive=True) == []


def test_empty_candidates_still_check_the_prefix_scale():
    with raises_exactly(ValueError, invalid_prefix_scale("0.3")) as excinfo:
        jaro_winkler_batch("a", [], p=0.3)
    assert excinfo.value.args == (invalid_prefix_scale("0.3"),)
    with raises_exactly(ValueError, invalid_prefix_scale("NaN")):
        jaro_winkler_batch("", (), p=math.nan)


# --- every candidate scores as the pair function would -----------------------


def expected_batch(function, query, candidates, options):
    pair = PAIR_OF[function]
    if function is not jaro_winkler_batch and query == "" and options.get("case_insensitive"):
        # An empty query counts the candidate as given, not as folded.
        return [len(candidate) for candidate in candidates]
    return [pair(query, candidate, **options) for candidate in candidates]


def candidate_pool(rng, query):
    """Candidates on every path: ASCII on both sides of 16/17 and 64/65 bytes,
    edited copies of the query, case variants, non-ASCII of each width, empty."""
    pool = ["", query, query.upper(), query.lower(), query[::-1], query[:64], query[:65]]
    for length in BORDER_LENGTHS + [200]:
        pool.append(random_text(rng, length, "abcAB"))
    for alphabet in list(ALPHABETS.values()) + list(FOLDING_ALPHABETS.values()):
        for length in (1, 17, 64, 65):
            pool.append(random_text(rng, length, alphabet))
        pool.append(mutate(rng, query, alphabet, 2))
    pool += [mutate(rng, query, "abcdAB", edits) for edits in (1, 2, 5)]
    # Beyond 64 bytes with many matches: the query and an edited copy end to end.
    pool.append(query + mutate(rng, query, "abcdAB", 3))
    pool += ["abç", "Kelvin\u212a", "İstanbul", "ΣΑΣ", "σας", "😀" * 3]
    # Latin-1 letters (two UTF-8 bytes) first, last and across the eight-byte
    # words of a lane's row, at byte lengths on both sides of each lane width.
    for n in (3, 7, 8, 15, 16, 31, 32, 62, 63):
        pool.append("é" + "abcAB"[n % 5] * n + "Ü")
        pool.append("a" * 7 + "ÿ" + "Ab" * (n // 2) + "×")
    return pool


QUERY_LENGTHS = [0, 1, 16, 17, 63, 64, 65, 200]


def queries(rng):
    for length in QUERY_LENGTHS:
        yield random_text(rng, length, "abcdAB")
    yield "MARTHA"
    yield "[{" * 3
    for alphabet in list(ALPHABETS.values())[1:] + list(FOLDING_ALPHABETS.values()):
        yield random_text(rng, 9, alphabet)
    yield "İ"
    yield "k\u212a"


@pytest.mark.parametrize("case_insensitive", [None, False, True])
@pytest.mark.parametrize("function", BATCHES)
def test_batch_equals_pair_function(function, case_insensitive, rng):
    options = {} if case_insensitive is None else {"case_insensitive": case_insensitive}
    for query in queries(rng):
        candidates = candidate_pool(rng, query)
        want = expected_batch(function, query, candidates, options)
        got = function(query, candidates, **options)
        if function is jaro_winkler_batch:
            assert [bits(x) for x in got] == [bits(x) for x in want], query
        else:
            assert got == want, query


@pytest.mark.parametrize("p", [0.0, 0.05, 0.25, -0.0])
def test_jaro_winkler_batch_prefix_scales(p, rng):
    for query in queries(rng):
        candidates = candidate_pool(rng, query)
        for case_insensitive in (False, True):
            got = jaro_winkler_batch(query, candidates, p=p, case_insensitive=case_insensitive)
            want = [jaro_winkler_similarity(query, c, p=p, case_insensitive=case_insensitive)
                    for c in candidates]
            assert [bits(x) for x in got] == [bits(x) for x in want], query


@pytest.mark.parametrize("function", [levenshtein_batch, damerau_batch])
def test_empty_query_counts_the_unchanged_candidate(function):
    candidates = ["İ", "İİx", "ΣΑΣ", "\u212a", "😀", ""]
    assert function("", candidates, case_insensitive=True) == [1, 3, 3, 1, 1, 0]
    assert [PAIR_OF[function]("", c, case_insensitive=True) for c in candidates] == [2, 5, 3, 1, 1, 0]


@pytest.mark.skipif(sys.version_info >= (3, 12), reason="small ints are immortal from 3.12")
@pytest.mark.parametrize("function", [levenshtein_batch, damerau_batch])
def test_shared_distances_hold_one_reference_per_item(function):
    candidates = ["abcde"[:n] for n in range(6)] * 50  # distances 5 to 0, 50 of each
    before = [sys.getrefcount(n) for n in range(7)]
    result = function("abcde", candidates)
    held = [sys.getrefcount(n) for n in range(7)]
    del result
    assert [h - b for h, b in zip(held, before)] == [50] * 6 + [0]
    assert [sys.getrefcount(n) for n in range(7)] == before


# --- the lock-release threshold does not change results -----------------------


@pytest.mark.parametrize("function", BATCHES)
def test_results_either_side_of_the_threshold(function, rng):
    words = [random_text(rng, rng.randrange(0, 12), "abcdeé日") for _ in range(500)]
    candidates = [words[i % len(words)] for i in range(10000)]
    for query in ("abcde", "abcdeé", "x" * 70):
        below = function(query, candidates[:9999])
        at = function(query, candidates)
        assert len(below) == 9999 and len(at) == 10000
        assert at[:9999] == below
        assert at[9999] == PAIR_OF[function](query, candidates[9999])
        assert function(query, [candidates[5]] * 10000) == [below[5]] * 10000


@pytest.mark.parametrize("function", BATCHES)
def test_results_as_the_texts_outgrow_their_room(function, rng):
    # Words, then texts far longer than the room reserved per candidate, so
    # the copies move while taken in: from a list (read with its length) and
    # from sequences that report too few elements or none.
    words = [random_text(rng, rng.randrange(0, 9), "abcé日😀") for _ in range(2000)]
    longer = [random_text(rng, rng.randrange(60, 700), "abcé日😀") for _ in range(200)]
    candidates = words + longer + words[:100]
    want = [PAIR_OF[function]("abcé", c) for c in candidates]
    for taken in (candidates, Sequence(candidates, length=0), Sequence(candidates, length=3)):
        assert function("abcé", taken) == want
    assert _ingest_borrow_and_deref(Sequence(candidates, length=1)) == sum(
        len(c.encode()) for c in candidates)


# --- taking the candidates in -------------------------------------------------


class Sequence:
    """Only __getitem__ and __len__; the length may lie or raise."""

    def __init__(self, items, length=None):
        self.items = items
        self.length = length

    def __len__(self):
        if isinstance(self.length, type) and issubclass(self.length, BaseException):
            raise self.length("from __len__")
        return len(self.items) if self.length is None else self.length

    def __getitem__(self, index):
        return self.items[index]


class GetItemOnly:
    def __init__(self, items):
        self.items = items

    def __getitem__(self, index):
        return self.items[index]


class AbcSequence(collections.abc.Sequence):
    def __init__(self, items):
        self.items = items

    def __len__(self):
        return len(self.items)

    def __getitem__(self, index):
        return self.items[index]



class RaisingAt(Sequence):
    def __getitem__(self, index):
        if index == 2:
            raise Boom("from __getitem__")
        return super().__getitem__(index)


class RaisingIter(Sequence):
    def __iter__(self):
        raise Boom("from __iter__")


class NonIterator(Sequence):
    def __iter__(self):
        return 5


class Str(str):
    pass


ITEMS = ["kitten", "sitting", "", "日本", "kitten"]

ACCEPTED_SEQUENCES = [
    ITEMS,
    tuple(ITEMS),
    collections.UserList(ITEMS),
    collections.deque(ITEMS),
    AbcSequence(ITEMS),
    GetItemOnly(ITEMS),
    Sequence(ITEMS),
    Sequence(ITEMS, length=0),
    Sequence(ITEMS, length=1),
    Sequence(ITEMS, length=1000),
    Sequence(ITEMS, length=2**62),
    Sequence(ITEMS, length=2**100),
    Sequence(ITEMS, length=-1),
    Sequence(ITEMS, length=Boom),
    Sequence(ITEMS, length=TypeError),
    [Str(item) for item in ITEMS],
    numpy.array(ITEMS),  # numpy.str_ elements are str
]


@pytest.mark.parametrize("sequence", ACCEPTED_SEQUENCES, ids=lambda s: type(s).__name__)
def test_sequences_taken_in_completely(sequence):
    assert levenshtein_batch("kitten", sequence) == [0, 3, 6, 6, 0]
    assert damerau_batch("kitten", sequence) == [0, 3, 6, 6, 0]
    assert jaro_winkler_batch("kitten", sequence)[0] == 1.0
    assert _ingest_owned(sequence) == 5
    assert _ingest_borrow(sequence) == 5
    assert _ingest_borrow_and_deref(sequence) == 6 + 7 + 0 + 6 + 6


def empty_generator():
    yield from ()


REFUSED_SEQUENCES = [
    ("abd", TypeError, "Can't extract `str` to `Vec`"),
    ("", TypeError, "Can't extract `str` to `Vec`"),
    (Str("abd"), TypeError, "Can't extract `str` to `Vec`"),
    ({"abd"}, TypeError, "'set' object is not an instance of 'Sequence'"),
    (frozenset(), TypeError, "'frozenset' object is not an instance of 'Sequence'"),
    ({"abd": 1}, TypeError, "'dict' object is not an instance of 'Sequence'"),
    ({}.keys(), TypeError, "'dict_keys' object is not an instance of 'Sequence'"),
    ((c for c in "abd"), TypeError, "'generator' object is not an instance of 'Sequence'"),
    (empty_generator(), TypeError, "'generator' object is not an instance of 'Sequence'"),
    (iter(["abd"]), TypeError, "'list_iterator' object is not an instance of 'Sequence'"),
    (None, TypeError, "'None' is not an instance of 'Sequence'"),
    (5, TypeError, "'int' object is not an instance of 'Sequence'"),
    (b"ab", TypeError, "'int' object is not an instance of 'str'"),
    (bytearray(b"ab"), TypeError, "'int' object is not an instance of 'str'"),
    (range(3), TypeError, "'int' object is not an instance of 'str'"),
    (["abd", 1], TypeError, "'int' object is not an instance of 'str'"),
    (["x", None], TypeError, "'None' is not an instance of 'str'"),
    (["x", b"y"], TypeError, "'bytes' object is not an instance of 'str'"),
    ([["x"]], TypeError, "'list' object is not an instance of 'str'"),
    (["ok", "a\ud800"], UnicodeEncodeError,
     "'utf-8' codec can't encode character '\\ud800' in position 1: surrogates not allowed"),
    (RaisingAt(["a", "b", "c", "d"]), Boom, "from __getitem__"),
    (RaisingIter(["a"]), Boom, "from __iter__"),
    (NonIterator(["a"]), TypeError, "iter() returned non-iterator of type 'int'"),
]


@pytest.mark.parametrize("candidates, exc_type, message", REFUSED_SEQUENCES,
                         ids=lambda v: type(v).__name__)
@pytest.mark.parametrize("function", INTAKES)
def test_sequences_refused(function, candidates, exc_type, message):
    with raises_exactly(exc_type, message, note="candidates"):
        function(candidates) if function.__name__.startswith("_") else function("abc", candidates)


@pytest.mark.parametrize("function", INTAKES)
def test_empty_range_is_a_sequence(function):
    result = function(range(0)) if function.__name__.startswith("_") else function("a", range(0))
    assert result in ([], 0)
