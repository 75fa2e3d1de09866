"""Scores spelling suggesters on a list of misspellings: top-1 and top-3
accuracy and words per second of CPU time, side by side in one process.

    python bench/spelling.py [--testset ../shared/spelling/spell-testset1.txt] [--rounds 1]

The test set holds one line per word, `right: wrong1 wrong2 ...`. Compared:
the example's first version (commit 5350600, read with `git show`, on
data/words.txt), today's examples/did_you_mean.py on its bundled
data/words.tsv, and today's on data/words.txt (no levels), to tell the part of
the levels from the rest. Each misspelling is put to every suggester in turn
before the next one, so that load on the machine falls alike on all; a query's
time is its best over the rounds, in thread CPU time. The word lists are
loaded before timing starts. A suggestion counts as right when it equals the
right word after lower-casing.
"""

from __future__ import annotations

import argparse
import importlib.util
import pathlib
import subprocess
import sys
import time
import types

ROOT = pathlib.Path(__file__).resolve().parent.parent
OLD_COMMIT = "5350600"


def load_testset(path):
    pairs = []
    with open(path, encoding="utf-8") as f:
        for line in f:
            right, _, wrongs = line.partition(":")
            pairs.extend((right.strip(), wrong) for wrong in wrongs.split())
    return pairs


def old_example():
    source = subprocess.run(["git", "show", f"{OLD_COMMIT}:examples/did_you_mean.py"],
                            cwd=ROOT, check=True, capture_output=True, text=True).stdout
    module = types.ModuleType("did_you_mean_old")
    module.__file__ = str(ROOT / "examples" / "did_you_mean.py")  # its words.txt path
    exec(compile(source, f"{OLD_COMMIT}:examples/did_you_mean.py", "exec"), module.__dict__)
    return module


def new_example():
    spec = importlib.util.spec_from_file_location("did_you_mean", ROOT / "examples" / "did_you_mean.py")
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    return module


def suggesters():
    """(name, word count, suggest(query) -> list of words, best first)."""
    old = old_example()
    old_words = old.load_words()
    yield (f"{OLD_COMMIT} example, data/words.txt", len(old_words),
           lambda q: [w for w, _, _ in old.suggest(q, old_words, 3)])
    new = new_example()
    for path in (new.WORDS, ROOT / "data" / "words.txt"):
        entries = new.load_words(path)
        suggester = new.Suggester(entries)
        yield (f"did_you_mean.py, data/{path.name}", len(entries),
               lambda q, s=suggester: [x.word for x in s.suggest(q, 3)])


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n", 1)[0])
    parser.add_argument("--testset", type=pathlib.Path,
                        default=ROOT.parent / "shared" / "spelling" / "spell-testset1.txt")
    parser.add_argument("--rounds", type=int, default=1,
                        help="passes over the set; each query's best time counts (default 1)")
    args = parser.parse_args(argv)
    pairs = load_testset(args.testset)
    runs = list(suggesters())
    best = [[None] * len(pairs) for _ in runs]
    answers = [[None] * len(pairs) for _ in runs]
    for _ in range(args.rounds):
        for i, (_, wrong) in enumerate(pairs):
            for r, (_, _, suggest) in enumerate(runs):
                start = time.thread_time_ns()
                answers[r][i] = suggest(wrong)
                elapsed = time.thread_time_ns() - start
                best[r][i] = elapsed if best[r][i] is None else min(best[r][i], elapsed)
    print(f"{len(pairs)} misspellings of {len({right for right, _ in pairs})} words "
          f"from {args.testset.name}; {args.rounds} round(s), thread CPU time")
    print(f"{'suggester':40} {'words':>7} {'top-1':>7} {'top-3':>7} {'words/s':>9} {'speed':>7}")
    base = None
    for r, (name, count, _) in enumerate(runs):
        top1 = sum(bool(a) and a[0].lower() == right.lower()
                   for a, (right, _) in zip(answers[r], pairs))
        top3 = sum(right.lower() in (w.lower() for w in a) for a, (right, _) in zip(answers[r], pairs))
        rate = len(pairs) / (sum(best[r]) / 1e9)
        base = base or rate
        print(f"{name:40} {count:7} {top1 / len(pairs):7.1%} {top3 / len(pairs):7.1%} "
              f"{rate:9.1f} {rate / base:6.1f}x")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
