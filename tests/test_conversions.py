"""Argument conversions: unsigned integers, flags, reals and texts, their
exact messages and notes, which failure wins, and the ValueError texts."""
import math
import random
import struct

import numpy
import pytest

from support import WORD_BITS, WORD_MAX, Boom, invalid_prefix_scale, raises_exactly, too_long
from quillmatch import (damerau_bp, damerau_batch, jaro_winkler_batch, jaro_winkler_similarity,
                        levenshtein_batch, levenshtein_bp)



class Index:
    def __init__(self, value):
        self.value = value

    def __index__(self):
        if self.value is Boom:  # a new exception each time: notes stay per exception
            raise Boom("from __index__")
        return self.value


class Real:
    def __init__(self, value):
        self.value = value

    def __float__(self):
        if self.value is Boom:
            raise Boom("from __float__")
        return self.value


class IntWithIndex(int):
    """An int subclass is read as the int it is; its __index__ is not called."""

    def __index__(self):
        return 99


class Text(str):
    """A str subclass whose Python-level views lie; its code points are used."""

    def __str__(self):
        return "lie"

    def __len__(self):
        return 1000

    def encode(self, *args, **kwargs):
        return b"lie"


# --- unsigned integers: max_len and the distances' score_cutoff -------------

# Observed through score_cutoff on ('', 'abcdef'): min(6, value + 1).
UINT_ACCEPTED = [
    (0, 1),
    (False, 1),
    (True, 2),
    (4, 5),
    (IntWithIndex(2), 3),
    (Index(3), 4),
    (numpy.int64(1), 2),
    (numpy.uint8(0), 1),
    (WORD_MAX, 6),  # value + 1 is never formed: no wrap to 0
]


@pytest.mark.parametrize("value, want", UINT_ACCEPTED)
@pytest.mark.parametrize("function", [levenshtein_bp, damerau_bp])
def test_uint_accepted_as_score_cutoff(function, value, want):
    result = function("", "abcdef", score_cutoff=value)
    assert type(result) is int and result == want


@pytest.mark.parametrize("value, limit", [(True, 1), (False, 0), (Index(1), 1), (IntWithIndex(1), 1)])
@pytest.mark.parametrize("function", [levenshtein_bp, damerau_bp, jaro_winkler_similarity])
def test_uint_value_reaches_the_limit(function, value, limit):
    with raises_exactly(ValueError, too_long("str_1", limit + 1, limit)):
        function("x" * (limit + 1), "", max_len=value)


@pytest.mark.parametrize("function", [levenshtein_bp, damerau_bp, jaro_winkler_similarity])
def test_uint_largest_word_is_a_limit(function):
    assert function("abc", "abd", max_len=WORD_MAX) == function("abc", "abd")


UINT_REFUSED = [
    (3.0, TypeError, "'float' object cannot be interpreted as an integer"),
    ("3", TypeError, "'str' object cannot be interpreted as an integer"),
    ([], TypeError, "'list' object cannot be interpreted as an integer"),
    (numpy.float64(1.0), TypeError, "'numpy.float64' object cannot be interpreted as an integer"),
    (Index("x"), TypeError, "__index__ returned non-int (type str)"),
    (Index(Boom), Boom, "from __index__"),
    (-1, OverflowError, "can't convert negative int to unsigned"),
    (IntWithIndex(-1), OverflowError, "can't convert negative int to unsigned"),
    (Index(-5), OverflowError, "can't convert negative int to unsigned"),
    (-(2**70), OverflowError, "can't convert negative int to unsigned"),
    (2**64, OverflowError, "int too big to convert"),
    (Index(2**64), OverflowError, "int too big to convert"),
]
if WORD_BITS == 32:
    UINT_REFUSED += [
        (2**32, OverflowError, "out of range integral type conversion attempted"),
        (2**64 - 1, OverflowError, "out of range integral type conversion attempted"),
    ]

UINT_PARAMETERS = [
    (levenshtein_bp, "max_len"),
    (levenshtein_bp, "score_cutoff"),
    (damerau_bp, "max_len"),
    (damerau_bp, "score_cutoff"),
    (jaro_winkler_similarity, "max_len"),
]


@pytest.mark.parametrize("value, exc_type, message", UINT_REFUSED)
@pytest.mark.parametrize("function, parameter", UINT_PARAMETERS)
def test_uint_refused(function, parameter, value, exc_type, message):
    with raises_exactly(exc_type, message, note=parameter):
        function("a", "b", **{parameter: value})


# --- flags: case_insensitive ---------------------------------------------------


def numpy_named(name, module="numpy", **members):
    """A class that only claims to be numpy's boolean scalar type."""
    cls = type(name, (), members)
    cls.__module__ = module
    cls.__qualname__ = name
    return cls


class Outer:
    class Inner:
        pass


class SurrogateName:
    pass


SurrogateName.__qualname__ = "Name\ud800"  # the message replaces what UTF-8 cannot hold


class RaisingModule(type):
    @property
    def __module__(cls):
        raise Boom("no module")


class Unreadable(metaclass=RaisingModule):
    pass


FLAG_ACCEPTED = [
    (True, True),
    (False, False),
    (None, False),
    (numpy.bool_(True), True),
    (numpy.True_, True),
    (numpy.bool_(False), False),
    (numpy_named("bool_", __bool__=lambda self: True)(), True),
    (numpy_named("bool", __bool__=lambda self: False)(), False),
]

PAIR_FLAG_FUNCTIONS = [levenshtein_bp, damerau_bp, jaro_winkler_similarity]
BATCH_FLAG_FUNCTIONS = [levenshtein_batch, damerau_batch, jaro_winkler_batch]


@pytest.mark.parametrize("value, folds", FLAG_ACCEPTED)
def test_flag_accepted(value, folds):
    assert levenshtein_bp("ABC", "abc", case_insensitive=value) == (0 if folds else 3)
    assert damerau_bp("ABC", "abc", case_insensitive=value) == (0 if folds else 3)
    assert jaro_winkler_similarity("ABC", "abc", case_insensitive=value) == (1.0 if folds else 0.0)
    assert levenshtein_batch("ABC", ["abc"], case_insensitive=value) == [0 if folds else 3]
    assert jaro_winkler_batch("ABC", ["abc"], case_insensitive=value) == [1.0 if folds else 0.0]


def bool_returning_int(self):
    return 1


def bool_raising(self):
    raise Boom("from __bool__")


FLAG_REFUSED = [
    (1, TypeError, "'int' object is not an instance of 'bool'"),
    (0, TypeError, "'int' object is not an instance of 'bool'"),
    (1.0, TypeError, "'float' object is not an instance of 'bool'"),
    ("yes", TypeError, "'str' object is not an instance of 'bool'"),
    (numpy.int64(1), TypeError, "'int64' object is not an instance of 'bool'"),
    (numpy.array([True]), TypeError, "'ndarray' object is not an instance of 'bool'"),
    (Outer.Inner(), TypeError, "'Outer.Inner' object is not an instance of 'bool'"),
    (Unreadable(), TypeError, "'Unreadable' object is not an instance of 'bool'"),
    (SurrogateName(), TypeError, "'Name?' object is not an instance of 'bool'"),
    # Module and name must both match.
    (numpy_named("bool_", module="numpyx", __bool__=lambda self: True)(), TypeError,
     "'bool_' object is not an instance of 'bool'"),
    (numpy_named("int_", __bool__=lambda self: True)(), TypeError,
     "'int_' object is not an instance of 'bool'"),
    # Named like numpy's type: its __bool__ decides, and must give a bool.
    (numpy_named("bool_")(), TypeError,
     "object of type '<class 'numpy.bool_'>' does not define a '__bool__' conversion"),
    (numpy_named("bool", __bool__=bool_returning_int)(), TypeError,
     "'int' object is not an instance of 'bool'"),
    (numpy_named("bool", __bool__=bool_raising)(), Boom, "from __bool__"),
]


@pytest.mark.parametrize("value, exc_type, message", FLAG_REFUSED)
def test_flag_refused(value, exc_type, message):
    for function in PAIR_FLAG_FUNCTIONS:
        with raises_exactly(exc_type, message, note="case_insensitive"):
            function("a", "b", case_insensitive=value)
    for function in BATCH_FLAG_FUNCTIONS:
        with raises_exactly(exc_type, message, note="case_insensitive"):
            function("a", ["b"], case_insensitive=value)


def test_flag_special_method_is_looked_up_on_the_type():
    value = numpy_named("bool_")()
    value.__bool__ = lambda: True  # an instance attribute is not a special method
    with raises_exactly(TypeError,
                        "object of type '<class 'numpy.bool_'>' does not define a '__bool__' conversion",
                        note="case_insensitive"):
        levenshtein_bp("a", "b", case_insensitive=value)


# --- reals: p and jaro_winkler_similarity's score_cutoff -------------------------

# Observed through the prefix scale's error text, which shows the double received.
REAL_ACCEPTED = [
    (1, "1.0"),
    (True, "1.0"),
    (2**53 + 1, "9007199254740992.0"),
    (Real(0.3), "0.3"),
    (Index(1), "1.0"),
    (numpy.float64(0.5), "0.5"),
    (numpy.float32(0.5), "0.5"),
    (numpy.int8(-3), "-3.0"),
    (math.nan, "NaN"),
    (math.inf, "inf"),
    (-math.inf, "-inf"),
]


@pytest.mark.parametrize("value, text", REAL_ACCEPTED)
def test_real_accepted(value, text):
    with raises_exactly(ValueError, invalid_prefix_scale(text)):
        jaro_winkler_similarity("a", "b", p=value)
    with raises_exactly(ValueError, invalid_prefix_scale(text)):
        jaro_winkler_batch("a", ["b"], p=value)


def float_returning_int(self):
    return 1


REAL_REFUSED = [
    ("x", TypeError, "must be real number, not str"),
    ("0.1", TypeError, "must be real number, not str"),
    ([], TypeError, "must be real number, not list"),
    (2**1024, OverflowError, "int too large to convert to float"),
    (Index(2**1024), OverflowError, "int too large to convert to float"),
    (Real(Boom), Boom, "from __float__"),
    (type("F", (), {"__float__": float_returning_int})(), TypeError,
     "F.__float__ returned non-float (type int)"),
]


@pytest.mark.parametrize("value, exc_type, message", REAL_REFUSED)
def test_real_refused(value, exc_type, message):
    with raises_exactly(exc_type, message, note="p"):
        jaro_winkler_similarity("a", "b", p=value)
    with raises_exactly(exc_type, message, note="score_cutoff"):
        jaro_winkler_similarity("a", "b", score_cutoff=value)
    with raises_exactly(exc_type, message, note="p"):
        jaro_winkler_batch("a", ["b"], p=value)


# --- texts ---------------------------------------------------------------------

def surrogate_message(char, position):
    return (f"'utf-8' codec can't encode character '\\u{ord(char):04x}' in position {position}: "
            "surrogates not allowed")


# The same for every text parameter and for an element of the candidates.
TEXT_REFUSED = [
    (1, TypeError, "'int' object is not an instance of 'str'"),
    (None, TypeError, "'None' is not an instance of 'str'"),
    (b"a", TypeError, "'bytes' object is not an instance of 'str'"),
    (["a"], TypeError, "'list' object is not an instance of 'str'"),
    (Outer.Inner(), TypeError, "'Outer.Inner' object is not an instance of 'str'"),
    (SurrogateName(), TypeError, "'Name?' object is not an instance of 'str'"),
    ("\ud800", UnicodeEncodeError, surrogate_message("\ud800", 0)),
    ("a\udfff", UnicodeEncodeError, surrogate_message("\udfff", 1)),
    ("日本\udc80x", UnicodeEncodeError, surrogate_message("\udc80", 2)),
    # A high surrogate after an astral character.
    ("😀\ud83d", UnicodeEncodeError, surrogate_message("\ud83d", 1)),
]


@pytest.mark.parametrize("value, exc_type, message", TEXT_REFUSED)
def test_text_refused(value, exc_type, message):
    for function in PAIR_FLAG_FUNCTIONS:
        with raises_exactly(exc_type, message, note="str_1"):
            function(value, "b")
        with raises_exactly(exc_type, message, note="str_2"):
            function("a", value)
    for function in BATCH_FLAG_FUNCTIONS:
        with raises_exactly(exc_type, message, note="query"):
            function(value, ["b"])
        with raises_exactly(exc_type, message, note="candidates"):
            function("a", ["b", value])


def test_str_subclass_is_read_by_its_code_points():
    text = Text("kitten")
    assert levenshtein_bp(text, "sitting") == 3
    assert damerau_bp("sitting", text) == 3
    assert jaro_winkler_similarity(text, "kitten") == 1.0
    assert levenshtein_batch(text, [Text("sitting"), "kitten"]) == [3, 0]
    assert jaro_winkler_batch("kitten", [text]) == [1.0]


# --- precedence: parser, then parameters in order, then the core ---------------

PRECEDENCE = [
    (lambda: levenshtein_bp(1, 2), TypeError, "'int' object is not an instance of 'str'", "str_1"),
    (lambda: levenshtein_bp("a", 1, max_len=-1), TypeError,
     "'int' object is not an instance of 'str'", "str_2"),
    (lambda: levenshtein_bp("a", "b", max_len=-1, case_insensitive=1, score_cutoff=-1),
     OverflowError, "can't convert negative int to unsigned", "max_len"),
    # Keyword order does not matter, parameter order does.
    (lambda: levenshtein_bp(score_cutoff=-1, case_insensitive=1, str_2="b", str_1="a"),
     TypeError, "'int' object is not an instance of 'bool'", "case_insensitive"),
    (lambda: damerau_bp("a", "b", score_cutoff=1.5), TypeError,
     "'float' object cannot be interpreted as an integer", "score_cutoff"),
    (lambda: jaro_winkler_similarity("a", "b", p="x", max_len=-1), TypeError,
     "must be real number, not str", "p"),
    (lambda: jaro_winkler_similarity("a", "b", max_len="x", case_insensitive=1), TypeError,
     "'str' object cannot be interpreted as an integer", "max_len"),
    (lambda: jaro_winkler_similarity("a", "b", case_insensitive=1, score_cutoff="x"), TypeError,
     "'int' object is not an instance of 'bool'", "case_insensitive"),
    # A conversion failure wins over what the core would report.
    (lambda: levenshtein_bp("abcde", "b", max_len=2, case_insensitive=1), TypeError,
     "'int' object is not an instance of 'bool'", "case_insensitive"),
    (lambda: jaro_winkler_similarity("a", "b", p=0.3, score_cutoff="x"), TypeError,
     "must be real number, not str", "score_cutoff"),
    (lambda: jaro_winkler_batch("a", [1], p=0.3), TypeError,
     "'int' object is not an instance of 'str'", "candidates"),
    (lambda: jaro_winkler_batch("a", ["b"], p=0.3, case_insensitive=1), TypeError,
     "'int' object is not an instance of 'bool'", "case_insensitive"),
    # Batches: query, candidates, then the options.
    (lambda: levenshtein_batch(1, "abd"), TypeError, "'int' object is not an instance of 'str'",
     "query"),
    (lambda: levenshtein_batch("a", "abd", case_insensitive=1), TypeError,
     "Can't extract `str` to `Vec`", "candidates"),
    (lambda: jaro_winkler_batch("a", ["b", 1], p="x"), TypeError,
     "'int' object is not an instance of 'str'", "candidates"),
    (lambda: jaro_winkler_batch("a", ["b"], p="x", case_insensitive=1), TypeError,
     "must be real number, not str", "p"),
    (lambda: jaro_winkler_batch("a", ["b"], case_insensitive=1), TypeError,
     "'int' object is not an instance of 'bool'", "case_insensitive"),
    # The core's own order: the prefix scale before the length limit.
    (lambda: jaro_winkler_similarity("abcd", "", p=0.3, max_len=2), ValueError,
     invalid_prefix_scale("0.3"), None),
    (lambda: jaro_winkler_similarity("", "", p=0.3), ValueError, invalid_prefix_scale("0.3"), None),
    (lambda: levenshtein_bp("abcd", "abcde", max_len=3), ValueError, too_long("str_1", 4, 3), None),
]


@pytest.mark.parametrize("call, exc_type, message, note", PRECEDENCE)
def test_first_failure_wins(call, exc_type, message, note):
    with raises_exactly(exc_type, message, note=note):
        call()


# --- ValueError texts of the prefix scale ----------------------------------------

PREFIX_SCALE_TEXTS = [
    (0.3, "0.3"),
    (1, "1.0"),
    (-0.5, "-0.5"),
    (1e20, "1e20"),
    (-0.00001, "-1e-5"),
    (12345678.5, "12345678.5"),
    (math.nan, "NaN"),
    (-math.nan, "NaN"),
    (math.inf, "inf"),
    (-math.inf, "-inf"),
    (0.26, "0.26"),
    (-0.01, "-0.01"),
    (math.nextafter(0.25, 1.0), "0.25000000000000006"),
    (1e16, "1e16"),
    (9999999999999998.0, "9999999999999998.0"),
    (-0.0001, "-0.0001"),
    (-0.00009999, "-9.999e-5"),
    (-5e-324, "-5e-324"),
    (1.7976931348623157e308, "1.7976931348623157e308"),
    (0.1 + 0.2, "0.30000000000000004"),
    (123.0, "123.0"),
    (-2.5e-10, "-2.5e-10"),
    (-1e-300, "-1e-300"),
]


@pytest.mark.parametrize("value, text", PREFIX_SCALE_TEXTS)
def test_prefix_scale_text(value, text):
    with raises_exactly(ValueError, invalid_prefix_scale(text)) as excinfo:
        jaro_winkler_similarity("a", "b", p=value)
    assert excinfo.value.args == (invalid_prefix_scale(text),)
    with raises_exactly(ValueError, invalid_prefix_scale(text)):
        jaro_winkler_batch("a", [], p=value)


def shortest_text(value):
    """The debug form of a double, from Python's shortest repr."""
    if math.isnan(value):
        return "NaN"
    text = repr(value)
    if "e" in text:
        mantissa, exponent = text.split("e")
        return f"{mantissa}e{int(exponent)}"
    return text


def test_prefix_scale_text_of_random_doubles():
    rng = random.Random(11)
    checked = 0
    while checked < 3000:
        value = struct.unpack("<d", rng.getrandbits(64).to_bytes(8, "little"))[0]
        if rng.random() < 0.5:  # magnitudes around the notation borders
            value = math.copysign(rng.choice([1e-5, 1e-4, 1e15, 1e16, 1e17, 3.0]) *
                                  rng.uniform(0.5, 2.0), -1.0 if rng.random() < 0.7 else 1.0)
        if 0.0 <= value <= 0.25:
            continue
        with raises_exactly(ValueError, invalid_prefix_scale(shortest_text(value))):
            jaro_winkler_similarity("a", "b", p=value)
        checked += 1


@pytest.mark.parametrize("value", [0.0, -0.0, 0.25, 5e-324, 0.1, Index(0), False])
def test_prefix_scale_bounds_accepted(value):
    assert type(jaro_winkler_similarity("abcd", "abce", p=value)) is float
    assert len(jaro_winkler_batch("abcd", ["abce"], p=value)) == 1
