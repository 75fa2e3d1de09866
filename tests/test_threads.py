"""The interpreter lock: large batches compute without it, small batches and
the probes keep it, and concurrent batches give the serial results."""
import sys
import threading

import pytest

from quillmatch import (_ingest_borrow, _ingest_borrow_and_deref, _ingest_owned, damerau_batch,
                        jaro_winkler_batch, levenshtein_batch)

# A query over 64 characters takes the slow path for every candidate, so the
# core computation lasts long enough for a waiting thread to be scheduled.
SLOW_QUERY = "the quick brown fox jumps over the lazy dog " * 2
STEPS = 1000


@pytest.fixture
def long_switch_interval():
    """Stops the interpreter from handing the lock over on its own: another
    thread can then run only while this one has released the lock."""
    saved = sys.getswitchinterval()
    sys.setswitchinterval(60.0)
    try:
        yield
    finally:
        sys.setswitchinterval(saved)


def other_thread_ran_during(call):
    """Runs `call` while a second thread waits for the interpreter lock, and
    returns whether that thread took all its steps before `call` returned.

    The second thread takes its STEPS without blocking, so once it holds the
    lock it keeps it until it ends; with the long switch interval it can only
    get the lock while `call` has released it."""
    gate = threading.Lock()
    gate.acquire()
    returned = [False]
    seen = []

    def count():
        with gate:  # blocks, without the interpreter lock, until opened
            pass
        for _ in range(STEPS):
            seen.append(returned[0])

    worker = threading.Thread(target=count)
    worker.start()
    gate.release()
    call()
    returned[0] = True
    worker.join()
    assert len(seen) == STEPS
    assert len(set(seen)) == 1, "the worker was interrupted"
    return not seen[0]


@pytest.fixture(scope="module")
def many_candidates():
    words = [f"{w}{i % 97}" for i, w in enumerate(
        "alpha bravo charlie delta echo foxtrot golf hotel india juliet".split() * 30_000)]
    return words


@pytest.mark.usefixtures("long_switch_interval")
@pytest.mark.parametrize("function", [levenshtein_batch, damerau_batch, jaro_winkler_batch])
def test_large_batch_lets_another_thread_run(function, many_candidates):
    assert other_thread_ran_during(lambda: function(SLOW_QUERY, many_candidates))


@pytest.mark.usefixtures("long_switch_interval")
@pytest.mark.parametrize("count, released", [(9999, False), (10000, True)])
def test_lock_released_from_ten_thousand_candidates(count, released):
    # Long non-ASCII texts: each candidate costs tens of microseconds.
    query = "é" + "abcdefghij" * 20
    candidates = [f"{i:05d}" + "jihgfedcba" * 20 for i in range(count)]
    assert other_thread_ran_during(lambda: jaro_winkler_batch(query, candidates)) is released


@pytest.mark.usefixtures("long_switch_interval")
def test_probes_keep_the_lock(many_candidates):
    for probe in (_ingest_owned, _ingest_borrow, _ingest_borrow_and_deref):
        assert not other_thread_ran_during(lambda: probe(many_candidates))


def test_concurrent_batches_give_the_serial_results(many_candidates):
    candidates = many_candidates[:40_000]
    jobs = [
        (levenshtein_batch, "charlie7", {}),
        (damerau_batch, "CHARLEI7", {"case_insensitive": True}),
        (jaro_winkler_batch, "hotel", {"p": 0.2}),
        (levenshtein_batch, SLOW_QUERY, {}),
        (jaro_winkler_batch, "日本 delta", {"case_insensitive": True}),
    ]
    serial = [function(query, candidates, **options) for function, query, options in jobs]
    results = [None] * len(jobs)
    barrier = threading.Barrier(len(jobs))

    def run(index):
        function, query, options = jobs[index]
        barrier.wait()
        results[index] = function(query, candidates, **options)

    threads = [threading.Thread(target=run, args=(i,)) for i in range(len(jobs))]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    assert results == serial
