"""Property tests: hypothesis draws texts from every plane (lone surrogates too),
options of every type and candidate lists, and checks the module against the
plain references in support: values bit for bit, result types, and the
exception type, message and note of every failure.

The default profile is quick and deterministic; QUILLMATCH_HYPOTHESIS=long
explores many more examples with fresh randomness.
"""
import math
import os

from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

from support import (WORD_MAX, bits, invalid_prefix_scale, jaro_winkler_ref,
                      levenshtein_ref, osa_ref, raises_exactly, too_long)
from quillmatch import (_ingest_borrow, _ingest_borrow_and_deref, _ingest_owned, damerau_batch,
                        damerau_bp, jaro_winkler_batch, jaro_winkler_similarity, levenshtein_batch,
                        levenshtein_bp)
from test_pair_functions import check_pair

settings.register_profile("quick", max_examples=60, deadline=None, derandomize=True,
                          database=None, suppress_health_check=[HealthCheck.too_slow])
settings.register_profile("long", max_examples=3000, deadline=None, database=None,
                          suppress_health_check=[HealthCheck.too_slow])
PROFILE = settings.get_profile(os.environ.get("QUILLMATCH_HYPOTHESIS", "quick"))

# ---------------------------------------------------------------------------
# Strategies

# Characters that the code treats specially, from every storage class: both
# ASCII cases and the bytes 32 apart, Latin-1, sigma with case-ignorables,
# dotted capital I, Kelvin sign, both sharp s, and letters above U+FFFF.
SPECIAL = "aAbBkK[{ \u00e9\u00c9\u00df\u00ff\u03a3\u03c3\u03c2\u0391\u0307\u2019\u0130i" \
          "\u212a\u1e9e\u65e5\U0001f600\U00010400\U00010428"
ANY_SCALAR = st.characters(exclude_categories=("Cs",))
SURROGATE = st.characters(categories=("Cs",))
BORDERS = [16, 17, 63, 64, 65, 127, 128, 129]


@st.composite
def texts(draw):
    """A text that shares characters with others drawn alike, often at a border length."""
    kind = draw(st.integers(0, 3))
    if kind == 0:
        return draw(st.text(ANY_SCALAR, max_size=24))
    if kind == 1:
        return draw(st.text(st.sampled_from(SPECIAL), max_size=24))
    alphabet = draw(st.sampled_from(["ab", "aB\u00e9", "a\u65e5\u00e9", "a\U0001f600b", SPECIAL]))
    length = draw(st.sampled_from(BORDERS)) if kind == 2 else draw(st.integers(0, 70))
    return "".join(draw(st.lists(st.sampled_from(alphabet), min_size=length, max_size=length)))


@st.composite
def edited(draw, text):
    """`text` after a few insertions, deletions, substitutions and swaps."""
    chars = list(text)
    for _ in range(draw(st.integers(0, 5))):
        pos = draw(st.integers(0, len(chars)))
        kind = draw(st.integers(0, 3))
        char = draw(st.sampled_from(SPECIAL))
        if kind == 0 or not chars:
            chars.insert(pos, char)
        elif kind == 1:
            del chars[min(pos, len(chars) - 1)]
        elif kind == 2:
            chars[min(pos, len(chars) - 1)] = char
        elif len(chars) > 1:
            k = min(pos, len(chars) - 2)
            chars[k], chars[k + 1] = chars[k + 1], chars[k]
    return "".join(chars)


@st.composite
def pairs(draw):
    a = draw(texts())
    relation = draw(st.integers(0, 2))
    b = draw(texts()) if relation == 0 else a if relation == 1 else draw(edited(a))
    return a, b


@st.composite
def with_surrogate(draw):
    """A text holding one lone surrogate somewhere."""
    text = draw(st.text(ANY_SCALAR, max_size=8))
    pos = draw(st.integers(0, len(text)))
    return text[:pos] + draw(SURROGATE) + text[pos:]


NOT_STR = st.one_of(st.none(), st.integers(), st.floats(), st.binary(max_size=3),
                    st.lists(st.text(max_size=2), max_size=2), st.booleans())
PREFIX_SCALES = st.one_of(st.none(), st.floats(0.0, 0.25), st.sampled_from([0.0, -0.0, 0.25]),
                          st.floats(allow_nan=True, allow_infinity=True))


def debug_float(value):
    """The shortest round-trip text of a double, as the core's debug text writes it."""
    if math.isnan(value):
        return "NaN"
    text = repr(value)  # Python switches to exponent form at the same magnitudes
    if "e" in text:
        mantissa, exponent = text.split("e")
        return f"{mantissa}e{int(exponent)}"
    return text


def type_message(value, required="str"):
    if value is None:
        return f"'None' is not an instance of '{required}'"
    return f"'{type(value).__qualname__}' object is not an instance of '{required}'"


def encode_message(text):
    try:
        text.encode("utf-8")
    except UnicodeEncodeError as error:
        return str(error)
    raise AssertionError("text encodes")


PAIR_FUNCTIONS = [levenshtein_bp, damerau_bp, jaro_winkler_similarity]
BATCH_FUNCTIONS = [levenshtein_batch, damerau_batch, jaro_winkler_batch]


# ---------------------------------------------------------------------------
# Values


@PROFILE
@given(pairs(), st.booleans())
def test_pair_values_against_references(pair, case_insensitive):
    a, b = pair
    check_pair(a, b, case_insensitive)


@PROFILE
@given(pairs(), PREFIX_SCALES, st.one_of(st.none(), st.floats(allow_nan=True)),
       st.sampled_from([None, False, True]))
def test_jaro_winkler_prefix_scale_and_cutoff(pair, p, cutoff, case_insensitive):
    a, b = pair
    call = lambda: jaro_winkler_similarity(a, b, p=p, case_insensitive=case_insensitive,  # noqa: E731
                                           score_cutoff=cutoff)
    scale = 0.1 if p is None else p
    if not 0.0 <= scale <= 0.25:
        with raises_exactly(ValueError, invalid_prefix_scale(debug_float(scale))):
            call()
        return
    ra, rb = (a.lower(), b.lower()) if case_insensitive else (a, b)
    want = jaro_winkler_ref(ra, rb, scale)
    if ra and rb and cutoff is not None and cutoff > want:
        want = 0.0
    got = call()
    assert type(got) is float
    assert bits(got) == bits(want)


@PROFILE
@given(pairs(), st.integers(0, 140), st.sampled_from([None, True]), st.sampled_from(PAIR_FUNCTIONS))
def test_length_limit(pair, max_len, case_insensitive, function):
    a, b = pair
    ra, rb = (a.lower(), b.lower()) if case_insensitive else (a, b)
    if len(ra) > max_len or len(rb) > max_len:
        which, length = ("str_1", len(ra)) if len(ra) > max_len else ("str_2", len(rb))
        with raises_exactly(ValueError, too_long(which, length, max_len)) as excinfo:
            function(a, b, max_len=max_len, case_insensitive=case_insensitive)
        assert excinfo.value.args == (too_long(which, length, max_len),)
    else:
        assert function(a, b, max_len=max_len, case_insensitive=case_insensitive) == \
            function(a, b, case_insensitive=case_insensitive)


@st.composite
def batches(draw):
    query = draw(texts())
    candidates = draw(st.lists(st.one_of(texts(), edited(query)), max_size=40))
    return query, candidates


@PROFILE
@given(batches(), st.sampled_from([None, False, True]), st.sampled_from([list, tuple]))
def test_batches_equal_their_pair_functions(batch, case_insensitive, container):
    query, candidates = batch
    options = {"case_insensitive": case_insensitive}
    lev = levenshtein_batch(query, container(candidates), **options)
    osa = damerau_batch(query, container(candidates), **options)
    jw = jaro_winkler_batch(query, container(candidates), **options)
    assert type(lev) is list and type(osa) is list and type(jw) is list
    assert len(lev) == len(osa) == len(jw) == len(candidates)
    for i, candidate in enumerate(candidates):
        assert type(lev[i]) is int and type(osa[i]) is int and type(jw[i]) is float
        if query:
            assert lev[i] == levenshtein_bp(query, candidate, **options)
            assert osa[i] == damerau_bp(query, candidate, **options)
        else:
            # An empty query counts the unchanged candidate, folding or not.
            assert lev[i] == osa[i] == len(candidate)
        assert bits(jw[i]) == bits(jaro_winkler_similarity(query, candidate, **options))


@PROFILE
@given(batches(), PREFIX_SCALES)
def test_jaro_winkler_batch_prefix_scale(batch, p):
    query, candidates = batch
    scale = 0.1 if p is None else p
    if not 0.0 <= scale <= 0.25:
        with raises_exactly(ValueError, invalid_prefix_scale(debug_float(scale))):
            jaro_winkler_batch(query, candidates, p=p)
        return
    assert [bits(x) for x in jaro_winkler_batch(query, candidates, p=p)] == \
        [bits(jaro_winkler_ref(query, c, scale)) for c in candidates]


@PROFILE
@given(st.lists(st.text(ANY_SCALAR, max_size=6), max_size=30))
def test_probes_count_and_sum(candidates):
    assert _ingest_owned(candidates) == len(candidates)
    assert _ingest_borrow(tuple(candidates)) == len(candidates)
    assert _ingest_borrow_and_deref(candidates) == sum(len(c.encode("utf-8")) for c in candidates)


# ---------------------------------------------------------------------------
# Failures: the first bad argument in parameter order wins.


@PROFILE
@given(st.data(), st.sampled_from(PAIR_FUNCTIONS), st.integers(0, 1))
def test_pair_text_arguments_refused(data, function, position):
    good = data.draw(texts())
    bad = data.draw(st.one_of(NOT_STR, with_surrogate()))
    args = [good, good]
    args[position] = bad
    # A later argument that is also bad is never looked at.
    later = {"max_len": -1} if data.draw(st.booleans()) else {}
    if isinstance(bad, str):
        expected = (UnicodeEncodeError, encode_message(bad))
    else:
        expected = (TypeError, type_message(bad))
    with raises_exactly(*expected, note=f"str_{position + 1}"):
        function(*args, **later)


UINT_REFUSALS = [
    (st.integers(max_value=-1), OverflowError, "can't convert negative int to unsigned"),
    (st.integers(min_value=2**64, max_value=2**80), OverflowError, "int too big to convert"),
]
if WORD_MAX < 2**64 - 1:
    UINT_REFUSALS.append((st.integers(min_value=WORD_MAX + 1, max_value=2**64 - 1), OverflowError,
                          "out of range integral type conversion attempted"))


@PROFILE
@given(st.data(), st.sampled_from(UINT_REFUSALS), st.sampled_from(["max_len", "score_cutoff"]),
       st.sampled_from([levenshtein_bp, damerau_bp]))
def test_unsigned_options_refused(data, refusal, name, function):
    values, exc_type, message = refusal
    value = data.draw(values)
    with raises_exactly(exc_type, message, note=name):
        function("a", "b", **{name: value})


@PROFILE
@given(st.one_of(st.integers(), st.text(max_size=2), st.floats(), st.none()),
       st.sampled_from(PAIR_FUNCTIONS + BATCH_FUNCTIONS))
def test_flag_accepts_only_bool(value, function):
    args = ("a", "b") if function in PAIR_FUNCTIONS else ("a", ["b"])
    if value is None:
        assert function(*args, case_insensitive=value) == function(*args)
        return
    with raises_exactly(TypeError, type_message(value, "bool"), note="case_insensitive"):
        function(*args, case_insensitive=value)


@st.composite
def bad_candidate_lists(draw):
    """A candidate list whose element at some index is not a str or holds a lone surrogate."""
    candidates = draw(st.lists(st.text(ANY_SCALAR, max_size=4), max_size=6))
    bad = draw(st.one_of(NOT_STR, with_surrogate()))
    index = draw(st.integers(0, len(candidates)))
    # Elements after the bad one may be bad too: the first ends the intake.
    tail = draw(st.lists(st.one_of(NOT_STR, st.text(max_size=2)), max_size=2))
    return candidates[:index] + [bad] + candidates[index:] + tail, bad


@PROFILE
@given(bad_candidate_lists(),
       st.sampled_from(BATCH_FUNCTIONS + [_ingest_owned, _ingest_borrow, _ingest_borrow_and_deref]),
       st.booleans())
def test_bad_candidate_refused(bad_list, function, bad_query):
    candidates, bad = bad_list
    if isinstance(bad, str):
        expected = (UnicodeEncodeError, encode_message(bad))
    else:
        expected = (TypeError, type_message(bad))
    if function in BATCH_FUNCTIONS:
        if bad_query:
            # The query is converted first, so its failure is the one reported.
            with raises_exactly(TypeError, type_message(1), note="query"):
                function(1, candidates, case_insensitive=1)
            return
        with raises_exactly(*expected, note="candidates"):
            function("q", candidates, case_insensitive=1)
    else:
        with raises_exactly(*expected, note="candidates"):
            function(candidates)
