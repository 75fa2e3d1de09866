"""Splits the time of a batch call and of a pair call into its steps.

    python bench/breakdown.py [--sizes 1000,100000]

A batch call takes every candidate in through a UTF-8 bytes object, hands
plain views to the core, scores, and builds a list. The ingest probes take the
candidates in the same ways without scoring, so the differences between them
and a batch call give each step's share:

    _ingest_borrow            iteration + one bytes object per candidate
    _ingest_borrow_and_deref  + the vector of plain views the core reads
    *_batch                   + query table, scoring and the result list

A pair call is split the same way: a call with two empty strings costs the
interpreter's call, the argument parser and the result (no bytes object is
made for an empty string); two short strings add their UTF-8 copies and the
scan. Times are CPU time of this thread, best of several rounds, in ns per
candidate or per call.
"""

from __future__ import annotations

import argparse
import gc
import sys
import time
from pathlib import Path

import quillmatch

sys.path.insert(0, str(Path(__file__).resolve().parent))
from compare import load_words, word_candidates  # noqa: E402

QUERY = "accomodation"


def best_ns(function, repeat: int, number: int) -> float:
    best = float("inf")
    gc.disable()
    try:
        for _ in range(repeat):
            start = time.thread_time_ns()
            for _ in range(number):
                function()
            best = min(best, (time.thread_time_ns() - start) / number)
    finally:
        gc.enable()
    return best


def batch_breakdown(size: int) -> None:
    import random

    candidates = word_candidates(random.Random(1), load_words(), size)
    number = max(1, 200000 // size)
    rows = [
        ("list(candidates) (a reference)", lambda: list(candidates)),
        ("_ingest_owned", lambda: quillmatch._ingest_owned(candidates)),
        ("_ingest_borrow", lambda: quillmatch._ingest_borrow(candidates)),
        ("_ingest_borrow_and_deref", lambda: quillmatch._ingest_borrow_and_deref(candidates)),
        ("levenshtein_batch", lambda: quillmatch.levenshtein_batch(QUERY, candidates)),
        ("damerau_batch", lambda: quillmatch.damerau_batch(QUERY, candidates)),
        ("jaro_winkler_batch", lambda: quillmatch.jaro_winkler_batch(QUERY, candidates)),
    ]
    try:
        from rapidfuzz import process
        from rapidfuzz.distance import OSA, JaroWinkler, Levenshtein

        for name, scorer in (("Levenshtein", Levenshtein.distance), ("OSA", OSA.distance),
                             ("JaroWinkler", JaroWinkler.similarity)):
            rows.append((f"rapidfuzz cdist {name} (a peer)",
                         lambda scorer=scorer: process.cdist([QUERY], candidates, scorer=scorer,
                                                             workers=1)))
    except ImportError:
        pass
    print(f"\nbatch of {size:,} English words, query {QUERY!r} (ns per candidate)")
    for name, function in rows:
        print(f"  {name:36} {best_ns(function, 9, number) / size:8.1f}")


def pair_breakdown() -> None:
    print("\npair calls (ns per call)")
    pairs = [("", ""), ("kitten", "sitting"), ("accomodation", "accommodation")]
    functions = [quillmatch.levenshtein_bp, quillmatch.damerau_bp,
                 quillmatch.jaro_winkler_similarity]
    print(f"  {'strings':32}" + "".join(f"{f.__name__:>26}" for f in functions))
    for a, b in pairs:
        line = f"  {repr(a) + ', ' + repr(b):32}"
        for f in functions:
            line += f"{best_ns(lambda: f(a, b), 9, 100000):26.1f}"
        print(line)
    print(f"  {'a Python no-op call (a reference)':32}{best_ns(lambda: None, 9, 100000):26.1f}")


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--sizes", default="1000,100000")
    args = parser.parse_args()
    for size in (int(s) for s in args.sizes.split(",")):
        batch_breakdown(size)
    pair_breakdown()


if __name__ == "__main__":
    main()
