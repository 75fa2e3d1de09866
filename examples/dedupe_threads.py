"""Finds the records of an incoming batch that duplicate records of a master
list, on a pool of threads.

    python examples/dedupe_threads.py --master 20000 --incoming 500 --workers 2

Each incoming record is compared with the whole master list by one
`damerau_batch` call (case-insensitive, so 'ANNA SMITH' and 'Anna Smith' are
equal). A call with 10000 or more candidates releases the interpreter lock
while it computes, so the pool's threads score records on all cores at once;
the script times one thread against the pool and prints the speed-up.
"""

from __future__ import annotations

import argparse
import random
import sys
import time
from collections.abc import Sequence
from concurrent.futures import ThreadPoolExecutor

import quillmatch

FIRST = ["Anna", "José", "Zoë", "Lukasz", "Ingrid", "Mohammed", "Chloe", "Björn", "Siobhan",
         "Kenji", "Olga", "Peter", "Maria", "Jurgen", "Francois", "Soren", "Amelie", "Dmitri",
         "Grace", "Tomasz", "Aisha", "Pablo", "Yuki", "Fatima", "Oliver", "Nadia"]
LAST = ["Schmidt", "Garcia", "Oyen", "Kowalski", "O'Brien", "Nakamura", "Petrov", "Dubois",
        "Andersson", "Rossi", "Smith", "Jones", "Müller", "Fernandez", "Nowak", "Lindqvist",
        "Okafor", "Haddad", "Novak", "Tanaka", "Moreau", "Jensen", "Kaplan", "Silva"]
STREET = ["Mill", "Station", "Church", "Park", "High", "Bridge", "Garden", "Victoria",
          "Chapel", "Orchard", "Meadow", "Castle"]


def make_master(count: int, seed: int = 7) -> list[str]:
    """Returns `count` records "name, number street"."""
    rng = random.Random(seed)
    return [f"{rng.choice(FIRST)} {rng.choice('ABCDEFGHJKLMNPRSTW')}. {rng.choice(LAST)}, "
            f"{rng.randint(1, 400)} {rng.choice(STREET)} Street" for _ in range(count)]


def typo(rng: random.Random, text: str) -> str:
    """Returns `text` with one slip: two neighbours swapped, a letter dropped,
    or everything in upper case."""
    kind = rng.randrange(3)
    i = rng.randrange(len(text) - 1)
    if kind == 0:
        return text[:i] + text[i + 1] + text[i] + text[i + 2:]
    if kind == 1:
        return text[:i] + text[i + 1:]
    return text.upper()


def make_incoming(master: Sequence[str], count: int, seed: int = 11) -> list[str]:
    """Returns `count` records, half of them mistyped copies of master records."""
    rng = random.Random(seed)
    fresh = make_master(count, seed)
    return [typo(rng, rng.choice(master)) if i % 2 else fresh[i] for i in range(count)]


def close_records(query: str, master: Sequence[str], max_edits: int) -> list[int]:
    """Returns the indices of the master records within `max_edits` edits of `query`."""
    distances = quillmatch.damerau_batch(query, master, case_insensitive=True)
    hits = []
    # Small ints are shared objects, so list.index finds a distance with one
    # pointer comparison per item: far faster than a Python loop, which keeps
    # the time spent holding the lock small.
    for distance in range(max_edits + 1):
        start = 0
        while True:
            try:
                start = distances.index(distance, start)
            except ValueError:
                break
            hits.append(start)
            start += 1
    return sorted(hits)


def find_duplicates(incoming: Sequence[str], master: Sequence[str], max_edits: int = 1,
                    workers: int = 1) -> list[list[int]]:
    """Returns, for each incoming record in order, the indices of the master
    records within `max_edits` edits of it, scoring on `workers` threads."""
    with ThreadPoolExecutor(max_workers=workers) as pool:
        return list(pool.map(lambda query: close_records(query, master, max_edits), incoming))


def main(argv: list[str]) -> int:
    parser = argparse.ArgumentParser(description="Finds duplicates of a master list.")
    parser.add_argument("--master", type=int, default=20000)
    parser.add_argument("--incoming", type=int, default=500)
    parser.add_argument("--workers", type=int, default=2)
    parser.add_argument("--max-edits", type=int, default=1)
    args = parser.parse_args(argv)

    master = make_master(args.master)
    incoming = make_incoming(master, args.incoming)
    timings = {}
    results = {}
    for workers in (1, args.workers):
        start = time.perf_counter()
        results[workers] = find_duplicates(incoming, master, args.max_edits, workers)
        timings[workers] = time.perf_counter() - start
    if results[1] != results[args.workers]:
        print(f"results differ between 1 and {args.workers} threads", file=sys.stderr)
        return 1

    found = [(record, hits) for record, hits in zip(incoming, results[1]) if hits]
    print(f"{len(found)} of {len(incoming)} incoming records duplicate master records, e.g.:")
    for record, hits in found[:3]:
        print(f"  {record!r} ~ " + ", ".join(repr(master[j]) for j in hits[:3]))
    print(f"1 thread: {timings[1]:.2f} s; {args.workers} threads: "
          f"{timings[args.workers]:.2f} s; speed-up {timings[1] / timings[args.workers]:.2f}x")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
