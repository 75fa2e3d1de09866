"""Suggests the closest words of a bundled English word list for each query.

    python examples/did_you_mean.py recieve definately accomodate

One batch call scores a query against all ~100,000 words at once (the lock is
released while it computes); the best few by distance, then by Jaro-Winkler
similarity, are printed.
"""

from __future__ import annotations

import pathlib
import sys

import quillmatch

WORDS = pathlib.Path(__file__).resolve().parent.parent / "data" / "words.txt"


def load_words(path: pathlib.Path = WORDS) -> list[str]:
    with open(path, encoding="utf-8") as f:
        return [line.strip() for line in f if line.strip()]


def suggest(query: str, words: list[str], count: int = 3) -> list[tuple[str, int, float]]:
    """Returns the `count` words nearest to `query` as (word, distance, similarity)."""
    distances = quillmatch.damerau_batch(query, words, case_insensitive=True)
    similarities = quillmatch.jaro_winkler_batch(query, words, case_insensitive=True)
    ranked = sorted(range(len(words)), key=lambda i: (distances[i], -similarities[i]))
    return [(words[i], distances[i], similarities[i]) for i in ranked[:count]]


def main(argv: list[str]) -> int:
    queries = argv or ["recieve", "definately", "accomodate", "seperate", "Febuary"]
    words = load_words()
    for query in queries:
        best = ", ".join(f"{w} ({d}, {s:.3f})" for w, d, s in suggest(query, words))
        print(f"{query!r}: did you mean {best}?")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
