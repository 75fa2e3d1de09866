"""Load: memory stays flat over 200,000 calls that mix successes with every
kind of failure; threads running large batches beside threads calling the
pair functions get exactly the serial results; very large inputs complete or
fail cleanly with bounded memory.

The tests marked `slow` take from several seconds to a minute and are
deselected by default: run them with `pytest -m slow -s tests/test_load.py`
(-s shows the figures they print).
"""
import gc
import json
import os
import subprocess
import sys
import textwrap
import threading
import time
import tracemalloc

import pytest

from support import Boom, jaro_winkler_ref, too_long
from quillmatch import (_ingest_borrow, _ingest_borrow_and_deref, _ingest_owned, damerau_batch,
                        damerau_bp, jaro_winkler_batch, jaro_winkler_similarity,
                        levenshtein_batch, levenshtein_bp)
from test_faults import PANIC_TYPE, TRIGGER, under_asan
from test_refcounts import RaisingAtEnd

needs_proc = pytest.mark.skipif(not os.path.exists("/proc/self/statm"), reason="needs /proc")
WORDS_FILE = os.path.join(os.path.dirname(__file__), os.pardir, "data", "words.txt")


def resident_bytes():
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


# ---------------------------------------------------------------------------
# 200,000 calls, successes and every kind of failure

# Texts of a few kilobytes: a copy or bytes object leaked per call would add
# hundreds of megabytes over the loop.
BIG = "x" * 3000 + "\u00e9"
CANDIDATES = [BIG[i:i + 150] + "\U0001f600" * (i % 3) for i in range(0, 3000, 150)]


class LyingLength:
    """A sequence whose __len__ raises; iteration still yields every item."""

    def __init__(self, items):
        self.items = items

    def __len__(self):
        raise RuntimeError("no length")

    def __getitem__(self, index):
        return self.items[index]


# (call, the exception type it raises or None); one entry per kind of outcome.
MIXED_CALLS = [
    (lambda: levenshtein_bp(BIG, "abc"), None),
    (lambda: damerau_bp("abc", BIG, case_insensitive=True, score_cutoff=10), None),
    (lambda: jaro_winkler_similarity(BIG, BIG[:40], p=0.2, score_cutoff=0.5), None),
    (lambda: levenshtein_batch("kitten", CANDIDATES), None),
    (lambda: damerau_batch(BIG[:70], tuple(CANDIDATES), case_insensitive=True), None),
    (lambda: jaro_winkler_batch("kitten", LyingLength(CANDIDATES), p=0.15), None),
    (lambda: _ingest_owned(CANDIDATES), None),
    (lambda: _ingest_borrow(CANDIDATES), None),
    (lambda: _ingest_borrow_and_deref(CANDIDATES), None),
    # The parser.
    (lambda: levenshtein_bp(BIG), TypeError),
    (lambda: levenshtein_bp(BIG, "b", None, None, None, None), TypeError),
    (lambda: levenshtein_bp(BIG, "b", maxlen=3), TypeError),
    (lambda: levenshtein_bp(BIG, "b", str_1=BIG), TypeError),
    # Conversions, each kind.
    (lambda: levenshtein_bp(BIG, 1), TypeError),
    (lambda: damerau_bp(BIG, None), TypeError),
    (lambda: damerau_bp(BIG, "a\ud800"), UnicodeEncodeError),
    (lambda: levenshtein_bp(BIG, "b", max_len=-1), OverflowError),
    (lambda: levenshtein_bp(BIG, "b", score_cutoff=2**70), OverflowError),
    (lambda: levenshtein_bp(BIG, "b", max_len=3.0), TypeError),
    (lambda: levenshtein_bp(BIG, "b", case_insensitive=1), TypeError),
    (lambda: jaro_winkler_similarity(BIG, "b", p="x"), TypeError),
    (lambda: jaro_winkler_similarity(BIG, "b", score_cutoff=[]), TypeError),
    # Errors of the core.
    (lambda: levenshtein_bp(BIG, "b", max_len=100, case_insensitive=True), ValueError),
    (lambda: jaro_winkler_similarity(BIG, "b", p=0.3), ValueError),
    (lambda: jaro_winkler_batch(BIG, CANDIDATES, p=float("nan")), ValueError),
    # Candidate intake.
    (lambda: levenshtein_batch(1, CANDIDATES), TypeError),
    (lambda: levenshtein_batch(BIG, BIG), TypeError),
    (lambda: damerau_batch(BIG, set(CANDIDATES[:3])), TypeError),
    (lambda: damerau_batch(BIG, iter(CANDIDATES)), TypeError),
    (lambda: levenshtein_batch(BIG, CANDIDATES + [1]), TypeError),
    (lambda: jaro_winkler_batch(BIG, CANDIDATES + ["\udfff"]), UnicodeEncodeError),
    (lambda: levenshtein_batch(BIG, RaisingAtEnd(CANDIDATES)), Boom),
    (lambda: _ingest_borrow_and_deref(CANDIDATES + [None]), TypeError),
]
if PANIC_TYPE is not None:
    # Internal faults, where the build can inject them (test_faults.py shows
    # them from the lock-free stretch of large batches too).
    MIXED_CALLS += [
        (lambda: damerau_bp(BIG, TRIGGER + "load"), PANIC_TYPE),
        (lambda: levenshtein_batch(BIG[:10], CANDIDATES + [TRIGGER + "load"]), PANIC_TYPE),
    ]


def run_mixed(calls):
    """Makes `calls` calls, cycling through MIXED_CALLS; checks every outcome."""
    for i in range(calls):
        call, expected = MIXED_CALLS[i % len(MIXED_CALLS)]
        try:
            call()
        except BaseException as error:  # noqa: B036 - any escape is a finding
            assert type(error) is expected, (i % len(MIXED_CALLS), error)
        else:
            assert expected is None, i % len(MIXED_CALLS)


@needs_proc
@pytest.mark.parametrize("calls", [20_000, pytest.param(200_000, marks=pytest.mark.slow)])
def test_mixed_calls_keep_memory_flat(calls):
    run_mixed(2 * len(MIXED_CALLS) * 50)  # warm-up: caches, interned names, free lists
    gc.collect()
    tracemalloc.start()
    try:
        traced_before, rss_before = tracemalloc.get_traced_memory()[0], resident_bytes()
        run_mixed(calls)
        gc.collect()
        traced_after, rss_after = tracemalloc.get_traced_memory()[0], resident_bytes()
    finally:
        tracemalloc.stop()
    print(f"\n{calls} calls: traced {traced_before} -> {traced_after} bytes, "
          f"resident {rss_before >> 20} -> {rss_after >> 20} MiB")
    assert traced_after - traced_before < 64 << 10
    assert rss_after - rss_before < 24 << 20


# ---------------------------------------------------------------------------
# Threads


def load_words(count):
    with open(WORDS_FILE, encoding="utf-8") as words:
        return [line.rstrip("\n") for _, line in zip(range(count), words)]


@pytest.fixture(scope="module")
def thread_jobs():
    """Batches over 12,000 candidates (the lock is released) and pairs, each
    with its serial result."""
    words = load_words(12_000)
    # Every storage class and path: ASCII words in lanes, upper-cased ones,
    # Latin-1, BMP and astral variants, and texts longer than 64 characters.
    candidates = [(w, w.upper(), w + "\u00e9", "\u65e5" + w, w + "\U0001f600",
                   w * 9)[i % 6] for i, w in enumerate(words)]
    batches = [
        (levenshtein_batch, "kitten", {}),
        (damerau_batch, "Kitten", {"case_insensitive": True}),
        (jaro_winkler_batch, "martha", {"p": 0.2}),
        (levenshtein_batch, "\u65e5" + "abc" * 30, {"case_insensitive": True}),
        (damerau_batch, "the quick brown fox", {}),
        (jaro_winkler_batch, "Th\u00e9 quick", {"case_insensitive": True}),
    ]
    batch_jobs = [(f, q, candidates, o, f(q, candidates, **o)) for f, q, o in batches]
    pair_jobs = []
    for i, w in enumerate(words[:200]):
        other = words[-1 - i]
        for f, o in [(levenshtein_bp, {}), (damerau_bp, {"score_cutoff": 3}),
                     (jaro_winkler_similarity, {"case_insensitive": True, "p": 0.25})]:
            pair_jobs.append((f, w * (1 + i % 40), other, o, f(w * (1 + i % 40), other, **o)))
    return batch_jobs, pair_jobs


def hammer(jobs, seconds, offset, done, failures, start):
    """Once every thread has reached `start` (a barrier), runs `jobs`
    round-robin for `seconds`; records its kind and number of calls in `done`,
    and every mismatch or exception in `failures`. The clock starts after the
    barrier: a thread started late, while the others hold the interpreter lock
    in turn, still gets its full time beside them."""
    calls = 0
    try:
        start.wait()
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            function, a, b, options, expected = jobs[(offset + calls) % len(jobs)]
            if function(a, b, **options) != expected:
                failures.append((function.__name__, a[:20], options))
            calls += 1
    except BaseException as error:  # noqa: B036 - recorded, then reported
        failures.append(repr(error))
    done.append((jobs[0][0].__name__.endswith("_batch"), calls))


@pytest.mark.parametrize("seconds", [1.5, pytest.param(20.0, marks=pytest.mark.slow)])
def test_threads_get_the_serial_results(thread_jobs, seconds):
    batch_jobs, pair_jobs = thread_jobs
    done, failures = [], []
    start = threading.Barrier(11)
    threads = [threading.Thread(target=hammer, args=(batch_jobs, seconds, k, done, failures, start))
               for k in range(8)]
    threads += [threading.Thread(target=hammer,
                                 args=(pair_jobs, seconds, 97 * k, done, failures, start))
                for k in range(3)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join(timeout=seconds + 120)
    assert not any(thread.is_alive() for thread in threads)
    print(f"\n{seconds} s: batch calls per thread {[c for batch, c in done if batch]}, "
          f"pair calls per thread {[c for batch, c in done if not batch]}")
    assert failures == []
    assert len(done) == len(threads) and all(calls > 0 for _, calls in done)


# ---------------------------------------------------------------------------
# Very large inputs


# 2**62 and sys.maxsize exceed what a vector can hold, 2**31 - 1 elements are
# more memory than the machine has (the reservation fails, which is
# ignored), and 2**63 makes the interpreter's length query itself fail.
@pytest.mark.parametrize("hint", [
    2**62, sys.maxsize, 2**63,
    pytest.param(2**31 - 1, marks=pytest.mark.skipif(
        under_asan(), reason="ASan's operator new aborts where it would throw std::bad_alloc")),
])
def test_huge_length_hint_is_ignored(hint):
    class Huge:
        def __len__(self):
            return hint

        def __getitem__(self, index):
            return ("kitten", "sitting", "\u00e9")[index]

    rss_before = resident_bytes() if os.path.exists("/proc/self/statm") else 0
    assert levenshtein_batch("kitten", Huge()) == [0, 3, 6]
    assert _ingest_owned(Huge()) == 3
    assert jaro_winkler_batch("kitten", Huge())[0] == 1.0
    if rss_before:
        assert resident_bytes() - rss_before < 16 << 20


def measure(code):
    """Runs `code` in a fresh interpreter; returns what it prints as JSON, plus
    the peak resident size in MiB above the size just before the measured work
    (`code` calls `mark()` when the measured work starts)."""
    script = textwrap.dedent("""
        import json, resource, sys
        def peak():
            return resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 1024
        def mark():
            global base
            base = peak()
        """) + textwrap.dedent(code) + textwrap.dedent("""
        result["peak_mib"] = round(peak() - base, 1)
        print(json.dumps(result))
        """)
    start = time.monotonic()
    done = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True,
                          timeout=600)
    assert done.returncode == 0, done.stderr
    result = json.loads(done.stdout.splitlines()[-1])
    result["seconds"] = round(time.monotonic() - start, 1)
    print(f"\n{result}")
    return result


@pytest.mark.slow
@pytest.mark.parametrize("case_insensitive", [None, True])
def test_ten_million_characters_rejected_by_max_len(case_insensitive):
    result = measure(f"""
        import quillmatch
        a = "\\u00c9" * 10_000_000
        b = "x" * 10_000_000
        mark()
        result = {{}}
        for name in ["levenshtein_bp", "damerau_bp", "jaro_winkler_similarity"]:
            try:
                getattr(quillmatch, name)(a, b, max_len=1000, case_insensitive={case_insensitive})
            except ValueError as error:
                result[name] = error.args
        """)
    want = [too_long("str_1", 10_000_000, 1000)]
    assert [result[name] for name in ["levenshtein_bp", "damerau_bp",
                                      "jaro_winkler_similarity"]] == [want] * 3
    # The copies: 20 MB and 10 MB of UTF-8, and the lower-cased copies.
    assert result["peak_mib"] < 200


@pytest.mark.slow
def test_million_character_pairs_computed():
    result = measure("""
        import quillmatch
        big = "x" * 1_000_000
        small = "x" * 1000 + "\\u00e9"
        mark()
        result = {
            "levenshtein": quillmatch.levenshtein_bp(big, small),
            "damerau": quillmatch.damerau_bp(small, big, case_insensitive=True),
            "batch": quillmatch.levenshtein_batch(big, [small, "", big[:64]]),
            "jaro_winkler": quillmatch.jaro_winkler_similarity(small, big),
        }
        """)
    assert result["levenshtein"] == result["damerau"] == 999_000
    assert result["batch"] == [999_000, 1_000_000, 1_000_000 - 64]
    assert result["jaro_winkler"] == jaro_winkler_ref("x" * 1000 + "\u00e9", "x" * 1_000_000)
    # The multi-word table of a million-character pattern: 256 rows of 15625 words.
    assert result["peak_mib"] < 200


@pytest.mark.slow
def test_five_million_candidates():
    result = measure("""
        import quillmatch
        candidates = ["sitting", "kitten", "k\\u00eftten"] * 1_666_667
        mark()
        distances = quillmatch.levenshtein_batch("kitten", candidates)
        result = {"count": len(distances), "distinct": sorted(set(distances)),
                  "ingested": quillmatch._ingest_borrow(candidates)}
        """)
    assert result["count"] == result["ingested"] == 5_000_001
    assert result["distinct"] == [0, 1, 3]
    # Per candidate: a bytes object, its view, a result and a list slot.
    assert result["peak_mib"] < 1500
