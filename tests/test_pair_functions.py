"""The pair functions: worked values of each measure, options, result types,
and every path against the plain references."""
import math

import pytest

from support import (ALPHABETS, BORDER_LENGTHS, FOLDING_ALPHABETS, WORD_MAX, bits,
                      invalid_prefix_scale, jaro_winkler_ref, levenshtein_ref, mutate, osa_ref,
                      random_text, raises_exactly, too_long)
from quillmatch import damerau_bp, jaro_winkler_similarity, levenshtein_bp

# A 65-character pattern (two words), and texts around its block border.
P65 = "ab" + "q" * 8 + "xyz" + "q" * 50 + "yz"
assert len(P65) == 65
P65_LAST = P65[:64] + "#"
P70_CJK = "a" * 35 + "日" + "b" * 34
P70_OTHER = "a" * 35 + "本" + "b" * 34

LEVENSHTEIN_CASES = [
    ("", "", {}, 0),
    ("", "abc", {}, 3),
    ("abc", "", {}, 3),
    ("", "abc", {"score_cutoff": 5}, 3),
    ("abc", "", {"score_cutoff": 5}, 3),
    ("", "abc", {"score_cutoff": 2}, 3),
    ("abc", "", {"score_cutoff": 2}, 3),
    ("sunday", "saturday", {}, 3),
    ("saturday", "sunday", {}, 3),
    ("flaw", "lawn", {}, 2),
    ("ab", "ba", {}, 2),
    ("a", "abca", {}, 3),
    ("abca", "a", {}, 3),
    ("a", "abcabcaca", {}, 8),
    ("abcabcaca", "a", {}, 8),
    ("ab", "bbababc", {}, 5),
    ("bbababc", "ab", {}, 5),
    ("CA", "ABC", {}, 3),
    ("abc", "abc", {"score_cutoff": 0}, 0),
    ("a", "ab", {"score_cutoff": 0}, 1),
    ("ab", "ba", {"score_cutoff": 0}, 1),
    ("sunday", "saturday", {"score_cutoff": 1}, 2),
    ("sunday", "saturday", {"score_cutoff": 2}, 3),
    ("sunday", "saturday", {"score_cutoff": 3}, 3),
    ("sunday", "saturday", {"score_cutoff": WORD_MAX}, 3),
    ("ABC", "abc", {"case_insensitive": True}, 0),
    ("ABC", "abc", {"case_insensitive": False}, 3),
    ("ABC", "abc", {}, 3),
    ("é", "e", {}, 1),
    ("日本", "本日", {}, 2),
    ("日本語", "日本", {}, 1),
    ("ÿ", "Ā", {}, 1),  # either side of 256: table and map
    ("😀𝔘", "𝔘😀", {}, 2),
    ("", "", {"max_len": 0}, 0),
    ("日本", "日本", {"max_len": 2}, 0),
    (P65, P65_LAST, {}, 1),
    (P65_LAST, P65, {}, 1),
    (P70_CJK, P70_OTHER, {}, 1),
    (P70_CJK, "日本", {}, 69),
]

DAMERAU_CASES = [
    ("", "", {}, 0),
    ("", "abc", {}, 3),
    ("abc", "", {}, 3),
    ("", "abc", {"score_cutoff": 1}, 2),
    ("abc", "", {"score_cutoff": 1}, 2),
    ("ab", "ba", {}, 1),
    ("abc", "acb", {}, 1),
    ("abcd", "badc", {}, 2),
    ("teh", "the", {}, 1),
    ("flaw", "lawn", {}, 2),
    ("CA", "ABC", {}, 3),
    ("ABC", "CA", {}, 3),
    ("a", "ab", {"score_cutoff": 0}, 1),
    ("ab", "ba", {"score_cutoff": 0}, 1),
    ("abc", "abc", {"score_cutoff": 0}, 0),
    ("abcdef", "badcfe", {"score_cutoff": 1}, 2),
    ("abcdef", "badcfe", {}, 3),
    ("abcdef", "badcfe", {"score_cutoff": WORD_MAX}, 3),
    ("é", "e", {}, 1),
    ("日本", "本日", {}, 1),
    ("𝔘😀", "😀𝔘", {}, 1),
    ("ΣΑ", "ασ", {"case_insensitive": True}, 1),
    ("", "", {"max_len": 0}, 0),
    (P65, "ba" + P65[2:], {}, 1),
    (P65, P65[:63] + P65[64] + P65[63], {}, 1),
    (P70_CJK, P70_OTHER, {}, 1),
]

JARO_WINKLER_CASES = [
    ("", "", {}, 1.0),
    ("", "", {"score_cutoff": 2.0}, 1.0),
    ("", "a", {}, 0.0),
    ("a", "", {}, 0.0),
    ("", "a", {"score_cutoff": -1.0}, 0.0),
    ("ab", "ba", {}, 0.0),
    ("abc", "cba", {}, 0.5555555555555555),
    ("a", "b", {}, 0.0),
    ("MARTHA", "MARHTA", {}, 0.9611111111111111),
    ("DWAYNE", "DUANE", {}, 0.8400000000000001),
    ("DIXON", "DICKSONX", {}, 0.8133333333333332),
    ("jellyfish", "smellyfish", {}, 0.8962962962962964),
    ("abc", "abd", {}, 0.8222222222222222),
    ("abcxyz", "bcaxyz", {}, 0.9444444444444445),
    ("xabcde", "xbcade", {}, 0.9500000000000001),
    ("listen", "silent", {}, 0.8888888888888888),
    ("abcdef", "abcxyz", {}, 0.6666666666666666),
    ("heart", "earth", {}, 0.8666666666666667),
    ("MARTHA", "MARHTA", {"p": 0}, 0.9444444444444445),
    ("MARTHA", "MARHTA", {"p": 0.1}, 0.9611111111111111),
    ("MARTHA", "MARHTA", {"p": -0.0}, 0.9444444444444445),
    ("abcdx", "abcdy", {"p": 0.25}, 1.0),
    ("abcdx", "abcdy", {"p": 0.0}, 0.8666666666666667),
    ("Hello", "hello", {}, 0.8666666666666667),
    ("Hello", "hello", {"case_insensitive": True}, 1.0),
    ("ABC", "abc", {}, 0.0),
    ("Hello World", "hello world", {}, 0.8787878787878789),
    ("MARTHA", "MARHTA", {"score_cutoff": 0.9}, 0.9611111111111111),
    ("MARTHA", "MARHTA", {"score_cutoff": 0.97}, 0.0),
    ("MARTHA", "MARHTA", {"score_cutoff": 0.9611111111111111}, 0.9611111111111111),
    ("MARTHA", "MARHTA", {"score_cutoff": math.nan}, 0.9611111111111111),
    ("MARTHA", "MARHTA", {"score_cutoff": math.inf}, 0.0),
    ("MARTHA", "MARHTA", {"score_cutoff": -math.inf}, 0.9611111111111111),
    ("MARTHA", "MARHTA", {"score_cutoff": 1}, 0.0),
    ("", "", {"max_len": 0}, 1.0),
    ("İ", "i", {"case_insensitive": True}, 0.8500000000000001),
    ("日本語", "日本人", {}, 0.8222222222222222),
    ("aaaaaaaaaaaaaaaaaaaab", "aaaaaaaaaaaaaaaaaaaac", {}, 0.9809523809523809),
    ("abcdefghijklmnopq", "abcdefghijklmnopr", {}, 0.9764705882352941),
]


@pytest.mark.parametrize("a, b, options, want", LEVENSHTEIN_CASES)
def test_levenshtein_values(a, b, options, want):
    result = levenshtein_bp(a, b, **options)
    assert type(result) is int and result == want


@pytest.mark.parametrize("a, b, options, want", DAMERAU_CASES)
def test_damerau_values(a, b, options, want):
    result = damerau_bp(a, b, **options)
    assert type(result) is int and result == want


@pytest.mark.parametrize("a, b, options, want", JARO_WINKLER_CASES)
def test_jaro_winkler_values(a, b, options, want):
    assert bits(jaro_winkler_similarity(a, b, **options)) == bits(want)


# (a, b, options, which, len, limit): the same for the three functions.
TOO_LONG = [
    ("abcd", "ab", {"max_len": 3}, "str_1", 4, 3),
    ("abcd", "ab", {"max_len": 2}, "str_1", 4, 2),
    ("abc", "abcd", {"max_len": 3}, "str_2", 4, 3),
    ("abcd", "abcde", {"max_len": 3}, "str_1", 4, 3),
    ("a", "", {"max_len": 0}, "str_1", 1, 0),
    ("", "a", {"max_len": 0}, "str_2", 1, 0),
    ("x" * 12, "", {"max_len": 10}, "str_1", 12, 10),
    ("", "x" * 5, {"max_len": 0}, "str_2", 5, 0),
    ("日本語", "", {"max_len": 2}, "str_1", 3, 2),
    ("😀😀", "😀", {"max_len": 1}, "str_1", 2, 1),
    ("日本", "日本語", {"max_len": 2}, "str_2", 3, 2),
    ("日本", "é", {"max_len": 1, "score_cutoff": 0}, "str_1", 2, 1),
    ("İ", "i", {"max_len": 1, "case_insensitive": True}, "str_1", 2, 1),
    ("i", "İ", {"max_len": 1, "case_insensitive": True}, "str_2", 2, 1),
    ("ab", "c", {"max_len": 1, "score_cutoff": 0}, "str_1", 2, 1),
]


@pytest.mark.parametrize("a, b, options, which, length, limit", TOO_LONG)
@pytest.mark.parametrize("function", [levenshtein_bp, damerau_bp, jaro_winkler_similarity])
def test_too_long(function, a, b, options, which, length, limit):
    with raises_exactly(ValueError, too_long(which, length, limit)) as excinfo:
        function(a, b, **options)
    assert excinfo.value.args == (too_long(which, length, limit),)


@pytest.mark.parametrize("p, text", [(0.26, "0.26"), (-0.01, "-0.01"), (math.nan, "NaN"),
                                     (math.inf, "inf"), (1, "1.0")])
def test_invalid_prefix_scale_wins_over_everything_in_the_core(p, text):
    for a, b, options in [("a", "b", {}), ("", "", {}), ("abcd", "", {"max_len": 1})]:
        with raises_exactly(ValueError, invalid_prefix_scale(text)):
            jaro_winkler_similarity(a, b, p=p, **options)


@pytest.mark.parametrize("function", [levenshtein_bp, damerau_bp, jaro_winkler_similarity])
def test_none_is_absent(function):
    count = 6 if function is jaro_winkler_similarity else 5
    assert function("ab", "ba", *[None] * (count - 2)) == function("ab", "ba")
    assert function("Ab", "ba", case_insensitive=None, max_len=None, score_cutoff=None) == \
        function("Ab", "ba", case_insensitive=False)


def test_result_types():
    for function in (levenshtein_bp, damerau_bp):
        for a, b in [("abc", "abc"), ("a", "b"), ("", "")]:
            assert type(function(a, b)) is int
    for a, b in [("abc", "abc"), ("a", "b"), ("", ""), ("ab", "ac")]:
        assert type(jaro_winkler_similarity(a, b)) is float


def check_pair(a, b, case_insensitive):
    """Every pair function on (a, b) against the references, with and without a cut-off."""
    options = {"case_insensitive": True} if case_insensitive else {}
    ra, rb = (a.lower(), b.lower()) if case_insensitive else (a, b)
    lev, osa = levenshtein_ref(ra, rb), osa_ref(ra, rb)
    assert levenshtein_bp(a, b, **options) == lev, (a, b)
    assert damerau_bp(a, b, **options) == osa, (a, b)
    jw = jaro_winkler_ref(ra, rb)
    assert bits(jaro_winkler_similarity(a, b, **options)) == bits(jw), (a, b)
    assert bits(jaro_winkler_similarity(a, b, p=0.25, **options)) == \
        bits(jaro_winkler_ref(ra, rb, 0.25)), (a, b)
    if not case_insensitive:  # the flag given as False is no flag
        off = {"case_insensitive": False}
        assert (levenshtein_bp(a, b, **off), damerau_bp(a, b, **off),
                bits(jaro_winkler_similarity(a, b, **off))) == (lev, osa, bits(jw))
    # The cut-off caps without changing anything else.
    for cutoff in {0, lev // 2, max(lev - 1, 0), lev}:
        assert levenshtein_bp(a, b, score_cutoff=cutoff, **options) == min(lev, cutoff + 1)
        assert damerau_bp(a, b, score_cutoff=cutoff, **options) == min(osa, cutoff + 1)
    if ra and rb:
        assert jaro_winkler_similarity(a, b, score_cutoff=jw, **options) == jw
        above = math.nextafter(jw, 2.0)
        assert jaro_winkler_similarity(a, b, score_cutoff=above, **options) == 0.0
    # The limit is the longer length after folding: it passes, one less fails.
    longest = max(len(ra), len(rb))
    assert levenshtein_bp(a, b, max_len=longest, **options) == lev
    if longest > 0:
        which = "str_1" if len(ra) == longest else "str_2"
        with raises_exactly(ValueError, too_long(which, longest, longest - 1)):
            damerau_bp(a, b, max_len=longest - 1, **options)


def random_pairs(rng, alphabet):
    """Pairs whose longer side lies on each border length: an edited copy and an unrelated text."""
    for length in BORDER_LENGTHS:
        a = random_text(rng, length, alphabet)
        yield a, mutate(rng, a, alphabet, rng.randrange(1, 6))
        yield a, random_text(rng, rng.choice(BORDER_LENGTHS), alphabet)


@pytest.mark.parametrize("alphabet", ALPHABETS)
def test_random_pairs_against_references(alphabet, rng):
    for a, b in random_pairs(rng, ALPHABETS[alphabet]):
        check_pair(a, b, False)
        check_pair(b, a, False)


@pytest.mark.parametrize("alphabet", FOLDING_ALPHABETS)
def test_random_folded_pairs_against_references(alphabet, rng):
    # str.lower is full lower-casing with Final_Sigma, as the module's.
    for a, b in random_pairs(rng, FOLDING_ALPHABETS[alphabet]):
        check_pair(a, b, True)
        check_pair(b.upper(), a, True)


def test_mixed_widths_in_one_string(rng):
    alphabet = "".join(ALPHABETS.values())
    for length in BORDER_LENGTHS:
        a = random_text(rng, length, alphabet)
        check_pair(a, mutate(rng, a, alphabet, 3), False)
        check_pair(a.upper(), mutate(rng, a, alphabet, 3), True)


@pytest.mark.parametrize("size", [1023, 1024, 1025])
def test_copies_around_the_inline_size(size):
    # Up to 1024 UTF-8 bytes are copied into the call's own buffer, more onto the heap.
    a = "é日" * (size // 10)
    a += "y" * (size - len(a.encode()))
    assert len(a.encode()) == size
    b = a[:-1] + "z"
    for function in (levenshtein_bp, damerau_bp):
        assert function(a, a) == 0
        assert function(a, b) == function(b, a) == 1
    assert jaro_winkler_similarity(a, a) == 1.0
