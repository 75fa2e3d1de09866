"""Times the three pair functions and prints ns per call (median of runs).

    python bench/pair_timing.py [--runs 7] [--number 20000]
"""

from __future__ import annotations

import argparse
import random
import statistics
import timeit

import quillmatch


def ascii_text(rng: random.Random, length: int) -> str:
    return "".join(rng.choice("abcdefghijklmnopqrstuvwxyz") for _ in range(length))


def workloads() -> list[tuple[str, str, str, dict]]:
    rng = random.Random(7)
    short = (ascii_text(rng, 8), ascii_text(rng, 9))
    mid = (ascii_text(rng, 60), ascii_text(rng, 60))
    long = (ascii_text(rng, 500), ascii_text(rng, 500))
    mixed = ("café Straße 東京タワー", "cafe strasse 東京スカイツリー")
    return [
        ("short ASCII", *short, {}),
        ("60-char ASCII", *mid, {}),
        ("500-char ASCII", *long, {}),
        ("non-ASCII", *mixed, {}),
        ("short, case-insensitive", short[0].upper(), short[1], {"case_insensitive": True}),
    ]


def main() -> None:
    parser = argparse.ArgumentParser()
    parser.add_argument("--runs", type=int, default=7)
    parser.add_argument("--number", type=int, default=20000)
    args = parser.parse_args()
    functions = [quillmatch.levenshtein_bp, quillmatch.damerau_bp, quillmatch.jaro_winkler_similarity]
    print(f"{'workload':26}" + "".join(f"{f.__name__:>26}" for f in functions))
    for name, a, b, options in workloads():
        row = f"{name:26}"
        for function in functions:
            number = args.number if len(a) < 100 else args.number // 10
            timer = timeit.Timer(lambda: function(a, b, **options))
            runs = timer.repeat(repeat=args.runs, number=number)
            row += f"{statistics.median(runs) / number * 1e9:>23.0f} ns"
        print(row)


if __name__ == "__main__":
    main()
