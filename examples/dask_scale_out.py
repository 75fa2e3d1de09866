# mypy: allow-untyped-calls
# (the constructors of Dask's Client and LocalCluster carry no annotations)
"""Matches many queries against a large candidate list partition by partition
on a Dask cluster, and checks the answer against a run in one process.

    pip install "dask[distributed]"
    python examples/dask_scale_out.py --workers 2 --partitions 8 --queries 200

The candidates are the lines of a word file (the bundled ~100,000 English
words by default). Each task reads its own range of lines, scores every query
against it with one `damerau_batch` and one `jaro_winkler_batch` call per
query, and keeps each query's best few; the client merges the partial lists.
The ranking, by distance, then similarity (higher first), then line number,
has no ties, so the merged answer equals the single-process one exactly.
"""

from __future__ import annotations

import argparse
import heapq
import itertools
import pathlib
import random
import sys
import time
from collections.abc import Sequence
from typing import Tuple

import quillmatch

WORDS = pathlib.Path(__file__).resolve().parent.parent / "data" / "words.txt"

# One ranked candidate: (distance, -similarity, line number, word). Tuples
# compare in that order; line numbers are unique, so words never compare.
Match = Tuple[int, float, int, str]


def read_partition(path: str, index: int, count: int) -> tuple[int, list[str]]:
    """Returns the first line number and the lines of partition `index` of
    `count` equal ranges of the file's non-empty lines."""
    with open(path, encoding="utf-8") as f:
        lines = [line.strip() for line in f if line.strip()]
    size = -(-len(lines) // count)
    return index * size, lines[index * size:(index + 1) * size]


def positions(values: list[int], value: int) -> list[int]:
    """Returns every index of `value` in `values`; list.index scans in C."""
    found: list[int] = []
    start = 0
    while True:
        try:
            start = values.index(value, start)
        except ValueError:
            return found
        found.append(start)
        start += 1


def best_matches(query: str, words: Sequence[str], first_line: int, count: int) -> list[Match]:
    """Returns the `count` best matches of `query` among `words`, best first."""
    distances = quillmatch.damerau_batch(query, words, case_insensitive=True)
    similarities = quillmatch.jaro_winkler_batch(query, words, case_insensitive=True)
    if not distances:
        return []
    # Every word nearer than the count-th best distance, and every word at
    # that distance, is a contender; no other word can rank among the best.
    contenders: list[int] = []
    distance = min(distances)
    while len(contenders) < count and distance <= max(distances):
        contenders += positions(distances, distance)
        distance += 1
    ranked = [(distances[i], -similarities[i], first_line + i, words[i]) for i in contenders]
    return heapq.nsmallest(count, ranked)


def partition_matches(path: str, index: int, partitions: int, queries: Sequence[str],
                      count: int) -> list[list[Match]]:
    """Returns each query's best matches within one partition of the file."""
    first_line, words = read_partition(path, index, partitions)
    return [best_matches(query, words, first_line, count) for query in queries]


def merge(partials: Sequence[list[list[Match]]], count: int) -> list[list[Match]]:
    """Merges per-partition answers into each query's overall best `count`."""
    per_query = zip(*partials)
    return [heapq.nsmallest(count, itertools.chain.from_iterable(lists)) for lists in per_query]


def match_single_process(path: str, queries: Sequence[str], count: int) -> list[list[Match]]:
    """The whole file as one partition, in this process."""
    return partition_matches(path, 0, 1, queries, count)


def match_on_cluster(client: object, path: str, queries: Sequence[str], count: int,
                     partitions: int) -> list[list[Match]]:
    """One Dask task per partition on `client`'s cluster, merged by one more task."""
    from dask.delayed import delayed  # only needed here: the module imports without Dask

    parts = [delayed(partition_matches)(path, i, partitions, list(queries), count)
             for i in range(partitions)]
    merged = delayed(merge)(parts, count)
    result: list[list[Match]] = merged.compute(scheduler=client)
    return result


def misspelt_queries(path: str, count: int, seed: int = 3) -> list[str]:
    """Returns `count` words of the file, each with two neighbours swapped."""
    rng = random.Random(seed)
    _, words = read_partition(path, 0, 1)
    queries: list[str] = []
    while len(queries) < count:
        word = rng.choice(words)
        if len(word) >= 4:
            i = rng.randrange(len(word) - 1)
            queries.append(word[:i] + word[i + 1] + word[i] + word[i + 2:])
    return queries


def main(argv: list[str]) -> int:
    parser = argparse.ArgumentParser(description="Scale-out matching with Dask.")
    parser.add_argument("words", nargs="*", help="queries (default: generated misspellings)")
    parser.add_argument("--file", default=str(WORDS), help="candidate file, one per line")
    parser.add_argument("--workers", type=int, default=2, help="local worker processes")
    parser.add_argument("--partitions", type=int, default=8)
    parser.add_argument("--queries", type=int, default=200)
    parser.add_argument("--best", type=int, default=3)
    args = parser.parse_args(argv)

    from dask.distributed import Client, LocalCluster

    queries = args.words or misspelt_queries(args.file, args.queries)
    start = time.perf_counter()
    expected = match_single_process(args.file, queries, args.best)
    single = time.perf_counter() - start

    start = time.perf_counter()
    with LocalCluster(n_workers=args.workers, threads_per_worker=1, processes=True,
                      dashboard_address=None) as cluster, Client(cluster) as client:
        client.upload_file(__file__)  # the workers import this module's functions
        started = time.perf_counter()
        answer = match_on_cluster(client, args.file, queries, args.best, args.partitions)
        clustered = time.perf_counter() - started
    startup = started - start
    if answer != expected:
        print("the cluster's answer differs from the single-process one", file=sys.stderr)
        return 1

    for query, matches in list(zip(queries, answer))[:5]:
        best = ", ".join(f"{word} ({d}, {-s:.3f})" for d, s, _, word in matches)
        print(f"{query!r}: {best}")
    print(f"{len(queries)} queries: one process {single:.2f} s; {args.workers} workers, "
          f"{args.partitions} partitions {clustered:.2f} s (+{startup:.2f} s cluster start); "
          f"answers identical")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
