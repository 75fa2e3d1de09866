"""Times one query against the words of data/words.txt and prints ns per
candidate for each batch function and each ingest probe (median of runs),
the split of a batch into intake and scoring, and the wall time of two
threads running batches at once against one thread running both.

    python bench/batch_timing.py [--runs 7] [--words data/words.txt]

Intake is what `_ingest_borrow_and_deref` costs: taking the list in as views
and building the plain views a batch hands to the core. Scoring is the rest
of the batch's time. Timings are noisy: compare figures from one run.
"""

from __future__ import annotations

import argparse
import statistics
import threading
import time
from pathlib import Path

import quillmatch

ROOT = Path(__file__).resolve().parent.parent

BATCHES = [quillmatch.levenshtein_batch, quillmatch.damerau_batch, quillmatch.jaro_winkler_batch]
PROBES = [quillmatch._ingest_owned, quillmatch._ingest_borrow, quillmatch._ingest_borrow_and_deref]

# (label, query, options): a short ASCII query takes the one-word fast path,
# a non-ASCII query sends every candidate to the pair function.
WORKLOADS = [
    ("ASCII", "algorithm", {}),
    ("ASCII, case-insensitive", "ALGORITHM", {"case_insensitive": True}),
    ("non-ASCII", "straße", {}),
    ("non-ASCII, case-insensitive", "STRASSE İ", {"case_insensitive": True}),
]


def median_seconds(call, runs: int) -> float:
    call()  # warm-up: caches, allocator
    samples = []
    for _ in range(runs):
        start = time.perf_counter()
        call()
        samples.append(time.perf_counter() - start)
    return statistics.median(samples)


def wall_seconds(calls: list, threaded: bool) -> float:
    """Runs each callable once, all on their own threads at once or one after another here."""
    start = time.perf_counter()
    if threaded:
        threads = [threading.Thread(target=call) for call in calls]
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join()
    else:
        for call in calls:
            call()
    return time.perf_counter() - start


def main() -> None:
    parser = argparse.ArgumentParser()
    parser.add_argument("--runs", type=int, default=7)
    parser.add_argument("--words", type=Path, default=ROOT / "data" / "words.txt")
    args = parser.parse_args()
    words = args.words.read_text(encoding="utf-8").split("\n")
    words = [w for w in words if w]
    n = len(words)
    print(f"{n} candidates from {args.words.name}; median of {args.runs} runs, ns per candidate\n")

    print("probes (intake only)")
    probe_ns = {}
    for probe in PROBES:
        probe_ns[probe.__name__] = median_seconds(lambda: probe(words), args.runs) / n * 1e9
        print(f"  {probe.__name__:26}{probe_ns[probe.__name__]:>9.1f}")
    intake = probe_ns["_ingest_borrow_and_deref"]

    print(f"\n{'batch':22}{'workload':30}{'total':>9}{'intake':>9}{'scoring':>9}{'intake %':>10}")
    for function in BATCHES:
        for label, query, options in WORKLOADS:
            total = median_seconds(lambda: function(query, words, **options), args.runs) / n * 1e9
            scoring = max(total - intake, 0.0)
            print(f"{function.__name__:22}{label:30}{total:>9.1f}{intake:>9.1f}{scoring:>9.1f}"
                  f"{100 * intake / total:>9.0f}%")

    print("\nthreads: two batches (levenshtein, jaro_winkler; ASCII query, 4 copies of the list each)")
    candidates = words * 4
    jobs = [lambda: quillmatch.levenshtein_batch("algorithm", candidates),
            lambda: quillmatch.jaro_winkler_batch("algorithm", candidates)]
    one = statistics.median(wall_seconds(jobs, threaded=False) for _ in range(args.runs))
    two = statistics.median(wall_seconds(jobs, threaded=True) for _ in range(args.runs))
    print(f"  one thread running both  {one * 1e3:8.1f} ms")
    print(f"  two threads at once      {two * 1e3:8.1f} ms   (speed-up {one / two:.2f}x)")
    slow = [lambda: quillmatch.levenshtein_batch("straße", candidates),
            lambda: quillmatch.damerau_batch("straße", candidates)]
    one = statistics.median(wall_seconds(slow, threaded=False) for _ in range(3))
    two = statistics.median(wall_seconds(slow, threaded=True) for _ in range(3))
    print("threads: two batches (levenshtein, damerau; non-ASCII query)")
    print(f"  one thread running both  {one * 1e3:8.1f} ms")
    print(f"  two threads at once      {two * 1e3:8.1f} ms   (speed-up {one / two:.2f}x)")


if __name__ == "__main__":
    main()
