"""The machine word: results that must not move between 32-bit and 64-bit
builds, and the "capacity overflow" fault that only a 32-bit build reaches
with the patterns of its tests (on a 64-bit build they are plain, if huge,
distances). The range of the unsigned options is tested with the other
conversions."""
import sys

import pytest

from support import levenshtein_ref, osa_ref
from quillmatch import (damerau_batch, damerau_bp, jaro_winkler_batch, jaro_winkler_similarity,
                        levenshtein_batch, levenshtein_bp)

IS_32_BIT = sys.maxsize == 2**31 - 1
only_32_bit = pytest.mark.skipif(not IS_32_BIT, reason="a 32-bit build's limit; "
                                 "a 64-bit build would allocate GiBs to compute these")

# Alphabets of this file's own, one per storage class of the pattern masks, so
# the pinned values below never move with other tests' data.
PIN_ALPHABETS = {"ascii": "abcAB", "latin1": "aäéÿ", "bmp": "aΣσ日本語", "astral": "a😀𐍈"}


def border_pair(alphabet, length):
    """A pattern of `length` characters and a text with a substitution, an
    insertion, a deletion and transpositions across the block borders."""
    pattern = (alphabet * length)[:length]
    text = list(pattern)
    for i in (63, 127):
        if i + 1 < length:
            text[i], text[i + 1] = text[i + 1], text[i]
    text[0] = alphabet[-1]
    del text[100:102]
    text.insert(40, alphabet[1])
    return pattern, "".join(text)


# (alphabet, pattern length, Levenshtein, Damerau, Jaro-Winkler as float.hex),
# from the plain references. Both word sizes must give exactly these.
PINNED = [
    ("ascii", 63, 2, 2, "0x1.d9ad9818d1611p-1"),
    ("ascii", 64, 2, 2, "0x1.da4879dcf3248p-1"),
    ("ascii", 65, 4, 3, "0x1.d833e0554b263p-1"),
    ("ascii", 127, 6, 5, "0x1.c558317f54b31p-1"),
    ("ascii", 128, 6, 5, "0x1.c5cf4269bc723p-1"),
    ("ascii", 129, 8, 6, "0x1.c4ec6e5c641c4p-1"),
    ("latin1", 63, 2, 2, "0x1.d9ad9818d1611p-1"),
    ("latin1", 64, 2, 2, "0x1.d792f92f92f93p-1"),
    ("latin1", 65, 4, 3, "0x1.d833e0554b263p-1"),
    ("latin1", 127, 6, 5, "0x1.c558317f54b31p-1"),
    ("latin1", 128, 6, 5, "0x1.c47482130c5c8p-1"),
    ("latin1", 129, 8, 6, "0x1.c39468fc4e9bfp-1"),
    ("bmp", 63, 2, 2, "0x1.d9ad9818d1611p-1"),
    ("bmp", 64, 2, 2, "0x1.da4879dcf3248p-1"),
    ("bmp", 65, 4, 3, "0x1.d833e0554b263p-1"),
    ("bmp", 127, 6, 5, "0x1.c29d2486d716cp-1"),
    ("bmp", 128, 6, 5, "0x1.c319c1bc5c46cp-1"),
    ("bmp", 129, 8, 6, "0x1.c39468fc4e9bfp-1"),
    ("astral", 63, 2, 2, "0x1.d9ad9818d1611p-1"),
    ("astral", 64, 2, 2, "0x1.da4879dcf3248p-1"),
    ("astral", 65, 4, 3, "0x1.d833e0554b263p-1"),
    ("astral", 127, 6, 5, "0x1.c5c46c6706f17p-1"),
    ("astral", 128, 6, 5, "0x1.c639c8e7239c9p-1"),
    ("astral", 129, 8, 6, "0x1.c557fab5402a5p-1"),
]


@pytest.mark.parametrize("alphabet, length, lev, osa, jw", PINNED)
def test_results_are_the_same_on_every_word_size(alphabet, length, lev, osa, jw):
    pattern, text = border_pair(PIN_ALPHABETS[alphabet], length)
    # The integer references are exact on any interpreter; the pinned double
    # also holds where the interpreter's own float arithmetic is x87.
    assert (levenshtein_ref(pattern, text), osa_ref(pattern, text)) == (lev, osa)
    assert levenshtein_bp(pattern, text) == levenshtein_bp(text, pattern) == lev
    assert damerau_bp(pattern, text) == damerau_bp(text, pattern) == osa
    assert levenshtein_batch(pattern, [text, pattern]) == [lev, 0]
    assert damerau_batch(text, [pattern, text]) == [osa, 0]
    assert jaro_winkler_similarity(pattern, text).hex() == jw
    assert [s.hex() for s in jaro_winkler_batch(pattern, [text])] == [jw]


def test_jaro_winkler_score_cutoff_is_a_double_on_every_word_size():
    # Unlike the distances' cut-off it is no machine word: 2**32 and 2**64 pass.
    assert jaro_winkler_similarity("abc", "abd", score_cutoff=2**32) == 0.0
    assert jaro_winkler_similarity("abc", "abd", score_cutoff=2**64) == 0.0
    assert jaro_winkler_similarity("abc", "abc", score_cutoff=1) == 1.0


def distinct_code_points(count):
    """`count` distinct code points from U+0100 upwards, surrogates skipped."""
    points = (c for c in range(0x100, 0x110000) if not 0xD800 <= c <= 0xDFFF)
    return "".join(chr(next(points)) for _ in range(count))


def expect_capacity_overflow(call):
    with pytest.raises(BaseException) as excinfo:
        call()
    assert excinfo.type.__name__ == "PanicException"
    assert excinfo.type.__module__ == "tarnbind_runtime"
    assert excinfo.value.args == ("capacity overflow",)


# The table of a multi-word pattern takes 2048 bytes per 64 characters in one
# allocation, at most 2**31 - 1 bytes on a 32-bit build: 67,108,800 characters
# fit (the test does not allocate those 2 GiB), 67,108,801 do not.
LONGEST_PATTERN = 67108800


@only_32_bit
@pytest.mark.parametrize("call", [
    # Texts longer than a word: a text that fits one would be the pattern.
    lambda q: levenshtein_bp(q, "a" * 65),
    # A cut-off that the difference of the lengths does not exceed: the scan runs.
    lambda q: damerau_bp(q, "a" * 65, max_len=LONGEST_PATTERN + 1, score_cutoff=LONGEST_PATTERN),
    lambda q: levenshtein_batch(q, ["a"]),
    lambda q: damerau_batch(q, ["a"]),
], ids=["levenshtein_bp", "damerau_bp", "levenshtein_batch", "damerau_batch"])
def test_pattern_table_beyond_one_allocation(call):
    expect_capacity_overflow(lambda: call("a" * (LONGEST_PATTERN + 1)))


def test_length_pre_check_builds_no_table():
    pattern = "a" * (LONGEST_PATTERN + 1)
    assert levenshtein_bp(pattern, "a", score_cutoff=0) == 1
    assert damerau_bp(pattern, "a", score_cutoff=LONGEST_PATTERN - 1) == LONGEST_PATTERN


@only_32_bit
def test_pattern_length_is_counted_after_lower_casing():
    # U+0130 lower-cases to two code points: half the characters, same table.
    expect_capacity_overflow(
        lambda: levenshtein_bp("\u0130" * ((LONGEST_PATTERN + 2) // 2), "a" * 65,
                               case_insensitive=True))


# Rows of the pattern's code points from 256 come from one allocation too:
# 2**17 distinct ones need 2**17 rows of 2**11 words (2 GiB), 2**19 need 2**32
# words, a count that wrapped to 0 on 32-bit builds and crashed the process.
@only_32_bit
@pytest.mark.parametrize("count", [2**17, 2**19])
def test_code_point_rows_beyond_one_allocation(count):
    pattern = distinct_code_points(count)
    expect_capacity_overflow(lambda: levenshtein_bp(pattern, "x" * 65))
    expect_capacity_overflow(lambda: damerau_bp(pattern, "x" * 65))
    expect_capacity_overflow(lambda: levenshtein_batch(pattern, ["x", "y"]))
    expect_capacity_overflow(lambda: damerau_batch(pattern, ["x"]))
    # Jaro-Winkler keeps no rows: the same pattern is an ordinary input.
    assert jaro_winkler_similarity(pattern, "x") == 0.0
