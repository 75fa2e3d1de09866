"""Every call gives back every reference it takes, on success and on each kind
of failure, with the interpreter lock held or released; failing calls in a
loop leave memory flat."""
import gc
import os
import sys
import tracemalloc

import pytest

from support import Boom
from quillmatch import (_ingest_borrow, _ingest_borrow_and_deref, _ingest_owned, damerau_batch,
                        damerau_bp, jaro_winkler_batch, jaro_winkler_similarity,
                        levenshtein_batch, levenshtein_bp)

THRESHOLD = 10_000



class RaisingAtEnd:
    """A sequence over `items` whose iteration raises after the last one. Its
    length says 1, so the intake outgrows its reservation on the way."""

    def __init__(self, items):
        self.items = items

    def __len__(self):
        return 1

    def __getitem__(self, index):
        if index == len(self.items):
            raise Boom("after the last item")
        return self.items[index]


def fresh(text):
    """A new str equal to `text` (two characters or more), shared with nothing."""
    return "".join([text, "!"])[:-1]


def fresh_candidates(count):
    # ASCII, Latin-1, BMP and astral elements, each a new object.
    kinds = ["kitten", "sitting é", "日本語", "😀ab"]
    return [f"{kinds[i % 4]}{i}" for i in range(count)]


def call_and_forget(call):
    """Runs `call`; returns the exception type it raised (dropped at once) or None."""
    try:
        call()
    except BaseException as error:  # noqa: B036 - the exception object is what holds references
        return type(error)
    return None


def counts(objects):
    return [sys.getrefcount(o) for o in objects]


# Objects of the failing arguments, each new, so that their counts show.
BAD_ELEMENT = bytes(range(10))
SURROGATE = fresh("ok\ud800")
BAD_OPTION = int("1000")
BAD_TEXT = fresh("xx")


def batch_calls(query, candidates):
    """(call, expected exception) for success and every failure kind."""
    bad_element = candidates + [BAD_ELEMENT]
    surrogate = candidates + [SURROGATE]
    raising = RaisingAtEnd(candidates)
    return [
        (lambda: levenshtein_batch(query, candidates), None),
        (lambda: damerau_batch(query, candidates, case_insensitive=True), None),
        (lambda: jaro_winkler_batch(query, candidates, p=0.2), None),
        (lambda: _ingest_owned(candidates), None),
        (lambda: _ingest_borrow(candidates), None),
        (lambda: _ingest_borrow_and_deref(candidates), None),
        (lambda: levenshtein_batch(query, bad_element), TypeError),
        (lambda: damerau_batch(query, surrogate), UnicodeEncodeError),
        (lambda: jaro_winkler_batch(query, raising), Boom),
        (lambda: _ingest_owned(bad_element), TypeError),
        (lambda: _ingest_borrow(surrogate), UnicodeEncodeError),
        (lambda: _ingest_borrow_and_deref(raising), Boom),
        (lambda: levenshtein_batch(query, candidates, case_insensitive=BAD_OPTION), TypeError),
        (lambda: jaro_winkler_batch(query, candidates, p=BAD_TEXT), TypeError),
        (lambda: jaro_winkler_batch(query, candidates, p=BAD_OPTION), ValueError),
        (lambda: jaro_winkler_batch(query, candidates, case_insensitive=BAD_TEXT), TypeError),
        (lambda: damerau_batch(BAD_ELEMENT, candidates), TypeError),
        (lambda: levenshtein_batch(SURROGATE, candidates), UnicodeEncodeError),
        (lambda: levenshtein_batch(query, candidates, None, None), TypeError),
        (lambda: levenshtein_batch(query, candidates=candidates, zz=BAD_OPTION), TypeError),
    ]


@pytest.mark.parametrize("count", [3, THRESHOLD - 1, THRESHOLD, THRESHOLD + 7])
def test_batch_and_probe_references(count):
    query = fresh("kitten")
    candidates = fresh_candidates(count)
    watched = [query, candidates, BAD_ELEMENT, SURROGATE, BAD_OPTION, BAD_TEXT]
    for call, expected in batch_calls(query, candidates):
        before = counts(candidates), counts(watched)
        assert call_and_forget(call) is expected
        assert (counts(candidates), counts(watched)) == before


def pair_calls(a, b, option):
    """(call, expected exception) for success and every failure kind."""
    return [
        (lambda: levenshtein_bp(a, b), None),  # the parser-free calls
        (lambda: jaro_winkler_similarity(a, b, case_insensitive=True), None),
        (lambda: levenshtein_bp(a, b, max_len=option), None),
        (lambda: damerau_bp(a, b, score_cutoff=option), None),
        (lambda: jaro_winkler_similarity(a, b, max_len=option), None),
        (lambda: levenshtein_bp(a, b, max_len=1), ValueError),
        (lambda: jaro_winkler_similarity(a, b, p=option), ValueError),
        (lambda: damerau_bp(a, b, case_insensitive=option), TypeError),
        (lambda: levenshtein_bp(a, BAD_ELEMENT), TypeError),
        (lambda: levenshtein_bp(a, b, score_cutoff=BAD_TEXT), TypeError),
        (lambda: jaro_winkler_similarity(a, b, score_cutoff=a), TypeError),
        (lambda: levenshtein_bp(a, b, max_len=-option), OverflowError),
        (lambda: damerau_bp(a, SURROGATE), UnicodeEncodeError),
        (lambda: levenshtein_bp(a, b, a, b, a, b), TypeError),
    ]


def test_pair_references():
    a, b = fresh("kitten é"), fresh("sitting 日本")
    option = int("1000")  # a new int, not a cached small one
    watched = [a, b, option, BAD_ELEMENT, SURROGATE, BAD_TEXT]
    for call, expected in pair_calls(a, b, option):
        before = counts(watched)
        assert call_and_forget(call) is expected
        assert counts(watched) == before


def resident_bytes():
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


@pytest.mark.skipif(not os.path.exists("/proc/self/statm"), reason="needs /proc")
def test_failing_calls_in_a_loop_keep_memory_flat():
    # 200 KB of text per call: a leaked copy or bytes object per call would
    # add tens of megabytes over the loop.
    query = fresh("kitten")
    candidates = [fresh("x" * 2000) + str(i) for i in range(100)]
    calls = [call for call, expected in batch_calls(query, candidates) if expected is not None]
    a, b = "é" * 50_000, "x" * 50_000
    calls += [call for call, expected in pair_calls(a, b, 100) if expected is not None]

    def run(rounds):
        for _ in range(rounds):
            for call in calls:
                call_and_forget(call)
        gc.collect()

    run(20)
    tracemalloc.start()
    try:
        run(20)
        traced_before, rss_before = tracemalloc.get_traced_memory()[0], resident_bytes()
        run(300)
        traced_after, rss_after = tracemalloc.get_traced_memory()[0], resident_bytes()
    finally:
        tracemalloc.stop()
    assert traced_after - traced_before < 1 << 20
    assert rss_after - rss_before < 32 << 20
