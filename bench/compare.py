"""Times quillmatch and its peers side by side, in one run, on the same inputs.

    python bench/compare.py [--quick] [--out bench/results]

Every workload is timed for every implementation in turn, round after round
(interleaved, so that drift of the machine hits all of them alike), in CPU
time of the calling thread (time lost to other processes does not count);
the best round counts. The table gives nanoseconds per pair or per candidate and, for
each peer, its time divided by quillmatch's (above 1: quillmatch is faster).
Before timing, each peer's results are checked against quillmatch's wherever
the two compute the same measure; a mismatch is reported and makes the run
exit with status 1. jellyfish's Damerau distance is the unrestricted one, not
the optimal string alignment, so it is timed but never checked (marked "*").

Writes the figures to <out>/compare.json and a plot to <out>/compare.png.
Peers are optional: a missing one is left out (pip install '.[bench]').
"""

from __future__ import annotations

import argparse
import gc
import importlib
import importlib.metadata
import json
import operator
import os
import platform
import random
import sys
import time
from dataclasses import dataclass, field
from pathlib import Path
from typing import Callable

import quillmatch

ROOT = Path(__file__).resolve().parent.parent
MEASURES = ("levenshtein", "osa", "jaro_winkler")
MEASURE_TITLES = {
    "levenshtein": "Levenshtein distance",
    "osa": "Restricted Damerau (OSA) distance",
    "jaro_winkler": "Jaro-Winkler similarity",
}


def optional_import(name: str):
    try:
        return importlib.import_module(name)
    except ImportError:
        return None


def version_of(distribution: str) -> str:
    try:
        return importlib.metadata.version(distribution)
    except importlib.metadata.PackageNotFoundError:
        return "?"


@dataclass
class Impl:
    """One implementation of one measure: a pair function and a batch runner."""

    name: str
    pair: Callable[[str, str], object]
    # Scores `query` against every candidate, in the implementation's own
    # result type; `as_list` turns that into a list, outside the timing.
    batch: Callable[[str, list[str]], object]
    checked: bool = True  # computes exactly quillmatch's measure
    # The pair function with case folding; by default both strings are
    # lower-cased in Python (str.lower is the full Unicode mapping too).
    pair_folded: Callable[[str, str], object] | None = None
    as_list: Callable[[object], list] = list


def looped(function):
    return lambda query, candidates: [function(query, c) for c in candidates]


def folded(function):
    return lambda a, b: function(a.lower(), b.lower())


def implementations() -> tuple[dict[str, list[Impl]], dict[str, str]]:
    """Returns the implementations of each measure, quillmatch first, and the
    versions of the peers found."""
    impls: dict[str, list[Impl]] = {m: [] for m in MEASURES}
    versions = {"quillmatch": "this tree"}
    impls["levenshtein"].append(
        Impl("quillmatch", quillmatch.levenshtein_bp, quillmatch.levenshtein_batch,
             pair_folded=lambda a, b: quillmatch.levenshtein_bp(a, b, case_insensitive=True)))
    impls["osa"].append(
        Impl("quillmatch", quillmatch.damerau_bp, quillmatch.damerau_batch,
             pair_folded=lambda a, b: quillmatch.damerau_bp(a, b, case_insensitive=True)))
    impls["jaro_winkler"].append(
        Impl("quillmatch", quillmatch.jaro_winkler_similarity, quillmatch.jaro_winkler_batch,
             pair_folded=lambda a, b: quillmatch.jaro_winkler_similarity(
                 a, b, case_insensitive=True)))

    rapidfuzz = optional_import("rapidfuzz")
    if rapidfuzz is not None:
        import numpy as np
        from rapidfuzz import process
        from rapidfuzz.distance import OSA, JaroWinkler, Levenshtein as RfLevenshtein

        versions["rapidfuzz"] = rapidfuzz.__version__

        # The timed call returns cdist's array as it is; it becomes a list
        # only for the check.
        def cdist(scorer, dtype=None):
            return lambda query, candidates: process.cdist(
                [query], candidates, scorer=scorer, workers=1, dtype=dtype)

        def row(matrix):
            return matrix[0].tolist()

        impls["levenshtein"].append(Impl("rapidfuzz", RfLevenshtein.distance,
                                         cdist(RfLevenshtein.distance), as_list=row))
        impls["osa"].append(Impl("rapidfuzz", OSA.distance, cdist(OSA.distance), as_list=row))
        # float64, so that the similarities can be compared bit for bit.
        impls["jaro_winkler"].append(Impl("rapidfuzz", JaroWinkler.similarity,
                                          cdist(JaroWinkler.similarity, np.float64),
                                          as_list=row))

    lev = optional_import("Levenshtein")
    if lev is not None:
        versions["Levenshtein"] = lev.__version__
        impls["levenshtein"].append(Impl("Levenshtein", lev.distance, looped(lev.distance)))
        impls["jaro_winkler"].append(
            Impl("Levenshtein", lev.jaro_winkler, looped(lev.jaro_winkler)))

    polyleven = optional_import("polyleven")
    if polyleven is not None:
        versions["polyleven"] = version_of("polyleven")
        impls["levenshtein"].append(
            Impl("polyleven", polyleven.levenshtein, looped(polyleven.levenshtein)))

    editdistance = optional_import("editdistance")
    if editdistance is not None:
        versions["editdistance"] = version_of("editdistance")
        impls["levenshtein"].append(
            Impl("editdistance", editdistance.eval, looped(editdistance.eval)))

    jarowinkler = optional_import("jarowinkler")
    if jarowinkler is not None:
        versions["jarowinkler"] = version_of("jarowinkler")
        f = jarowinkler.jarowinkler_similarity
        impls["jaro_winkler"].append(Impl("jarowinkler", f, looped(f)))

    jellyfish = optional_import("jellyfish")
    if jellyfish is not None:
        versions["jellyfish"] = version_of("jellyfish")
        f = jellyfish.levenshtein_distance
        impls["levenshtein"].append(Impl("jellyfish", f, looped(f)))
        f = jellyfish.damerau_levenshtein_distance
        impls["osa"].append(Impl("jellyfish*", f, looped(f), checked=False))
        f = jellyfish.jaro_winkler_similarity
        impls["jaro_winkler"].append(Impl("jellyfish", f, looped(f)))
    return impls, versions


# ---------------------------------------------------------------------------
# Inputs. Everything is drawn from one seeded generator, so two runs time the
# same strings.

LOWER = "abcdefghijklmnopqrstuvwxyz"
MIXED = "abcdeéüßçñ日本語東京大阪カタ"
LATIN1_LETTERS = "àáâäçèéêëìíîïñòóôöùúûüýÿß"


def mutate(rng: random.Random, text: str, edits: int, alphabet: str = LOWER) -> str:
    chars = list(text)
    for _ in range(edits):
        kind = rng.randrange(4)
        at = rng.randrange(len(chars) + 1)
        if kind == 0 or not chars:
            chars.insert(at, rng.choice(alphabet))
        elif kind == 1:
            del chars[min(at, len(chars) - 1)]
        elif kind == 2:
            chars[min(at, len(chars) - 1)] = rng.choice(alphabet)
        elif at + 1 < len(chars):
            chars[at], chars[at + 1] = chars[at + 1], chars[at]
    return "".join(chars)


def random_text(rng: random.Random, length: int, alphabet: str = LOWER) -> str:
    return "".join(rng.choice(alphabet) for _ in range(length))


def related_pairs(rng, count, low, high, alphabet=LOWER, edit_share=0.25):
    pairs = []
    for _ in range(count):
        a = random_text(rng, rng.randint(low, high), alphabet)
        pairs.append((a, mutate(rng, a, max(1, int(len(a) * edit_share)), alphabet)))
    return pairs


def load_words() -> list[str]:
    with open(ROOT / "data" / "words.txt", encoding="utf-8") as f:
        return [line.rstrip("\n") for line in f if line.strip()]


def word_candidates(rng: random.Random, words: list[str], count: int) -> list[str]:
    """`count` words: a random sample of the list in file order, or the whole
    list followed by mutated copies of it. The strings are made in list order,
    as when a program reads a word list, so neighbours sit near each other in
    memory (a shuffled list makes every library wait on cache misses)."""
    if count <= len(words):
        keep = sorted(rng.sample(range(len(words)), count))
        return [words[i] for i in keep]
    out = list(words)
    while len(out) < count:
        out.extend(mutate(rng, w, 1) for w in words[: count - len(out)])
    return out


def accented(rng: random.Random, words: list[str], share: float) -> list[str]:
    """The words with one letter of `share` of them replaced by a Latin-1
    letter, as in a list of names or of French and German words."""
    out = []
    for word in words:
        if word and rng.random() < share:
            at = rng.randrange(len(word))
            word = word[:at] + rng.choice(LATIN1_LETTERS) + word[at + 1:]
        out.append(word)
    return out


def sentence_candidates(rng: random.Random, words: list[str], count: int) -> list[str]:
    """`count` strings of about 60 characters: words joined by spaces."""
    out = []
    for _ in range(count):
        target = rng.randint(55, 65)
        parts: list[str] = []
        length = -1
        while length < target:
            parts.append(rng.choice(words))
            length += len(parts[-1]) + 1
        out.append(" ".join(parts)[:target])
    return out


@dataclass
class Workload:
    name: str
    kind: str  # "pair" or "batch"
    measures: tuple[str, ...]
    pairs: list[tuple[str, str]] = field(default_factory=list)
    query: str = ""
    candidates: list[str] = field(default_factory=list)
    folded: bool = False  # case-insensitive pairs
    rounds: int = 5

    @property
    def items(self) -> int:
        return len(self.pairs) if self.kind == "pair" else len(self.candidates)


def workloads(quick: bool) -> list[Workload]:
    rng = random.Random(20240611)
    words = load_words()
    rounds = 7 if quick else 25
    out = [
        Workload("pair: short ASCII (5-12)", "pair", MEASURES,
                 pairs=related_pairs(rng, 2000, 5, 12), rounds=rounds),
        Workload("pair: 60-char ASCII", "pair", MEASURES,
                 pairs=related_pairs(rng, 1000, 58, 62), rounds=rounds),
        Workload("pair: 500-char ASCII", "pair", MEASURES,
                 pairs=related_pairs(rng, 100 if quick else 200, 490, 510), rounds=rounds),
        Workload("pair: non-ASCII (Latin-1+CJK)", "pair", MEASURES,
                 pairs=related_pairs(rng, 2000, 5, 20, MIXED), rounds=rounds),
    ]
    short = related_pairs(rng, 2000, 5, 12)
    out.append(Workload("pair: short, case-insensitive", "pair", MEASURES,
                        pairs=[(a.upper() if i % 2 else a.title(), b)
                               for i, (a, b) in enumerate(short)],
                        folded=True, rounds=rounds))
    for length, count in ((1000, 10 if quick else 40), (10000, 2 if quick else 4)):
        a = random_text(rng, length)
        pairs = [(a, mutate(rng, a, length // 10)) for _ in range(count)]
        out.append(Workload(f"pair: {length}-char ASCII", "pair", MEASURES, pairs=pairs,
                            rounds=5 if quick else 9))
    query = "accomodation"
    sizes = (1000, 10000, 100000) if quick else (1000, 10000, 100000, 1000000)
    for size in sizes:
        out.append(Workload(f"batch: {size:,} words", "batch", MEASURES, query=query,
                            candidates=word_candidates(rng, words, size),
                            rounds=(3 if size >= 1000000 else 7) if quick else
                            (5 if size >= 1000000 else 15)))
    count = 20000 if quick else 100000
    # A generator of their own, so that the other workloads' inputs stay as
    # they were before these two rows existed.
    mixed_rng = random.Random(20261209)
    mixed_words = accented(mixed_rng, word_candidates(mixed_rng, words, count), 0.3)
    for name, mixed_query in (("ASCII query", query), ("accented query", "joséphine")):
        out.append(Workload(f"batch: {count:,} words, 30% accented, {name}", "batch", MEASURES,
                            query=mixed_query, candidates=mixed_words,
                            rounds=7 if quick else 15))
    sentence_query = sentence_candidates(rng, words, 1)[0]
    out.append(Workload(f"batch: {count:,} ~60-char", "batch", MEASURES, query=sentence_query,
                        candidates=sentence_candidates(rng, words, count),
                        rounds=5 if quick else 11))
    return out


# ---------------------------------------------------------------------------
# Running


# Peers that read a `str` without filling anything in it: they share the
# workload's own objects with quillmatch.
SHARING = {"quillmatch", "rapidfuzz"}


def own_copy(text: str) -> str:
    """An equal `str` that quillmatch never sees. Some libraries read a string
    through the interpreter's UTF-8 cache, which fills that cache in the object
    itself; on the same objects, quillmatch would then find its UTF-8 made
    already and time a copy instead of the encoding."""
    return text.encode().decode()


def runner(impl: Impl, workload: Workload) -> Callable[[], list]:
    if workload.kind == "batch":
        query, candidates = workload.query, workload.candidates
        if impl.name not in SHARING:
            query, candidates = own_copy(query), [own_copy(c) for c in candidates]
        return lambda: impl.batch(query, candidates)
    pairs = workload.pairs
    if impl.name not in SHARING:
        pairs = [(own_copy(a), own_copy(b)) for a, b in pairs]
    if workload.folded:
        f = impl.pair_folded or folded(impl.pair)
    else:
        f = impl.pair
    return lambda: [f(a, b) for a, b in pairs]


def agree(expected: list, got: list) -> tuple[bool, str]:
    if len(expected) != len(got):
        return False, f"{len(got)} results for {len(expected)} items"
    bad = [i for i, (x, y) in enumerate(zip(expected, got)) if x != y]
    if not bad:
        return True, ""
    i = bad[0]
    return False, f"{len(bad)} differ, first at {i}: {expected[i]!r} vs {got[i]!r}"


def floor_runners(impl: Impl, workload: Workload) -> dict[str, Callable[[], object]]:
    """The calls that set the floor of a row: what quillmatch cannot avoid
    paying whatever its scans cost. For pairs, the same call on two empty
    strings (parsing, the two UTF-8 copies, the result object) and, below it,
    a C function that does nothing with its two arguments; for batches, taking
    the candidates in as a batch does, without scoring them, and above it the
    same batch with an empty query: the intake plus the result list (one new
    float per candidate for Jaro-Winkler), with next to no scoring."""
    if workload.kind == "batch":
        candidates = workload.candidates
        batch = impl.batch
        return {"floor": lambda: quillmatch._ingest_borrow_and_deref(candidates),
                "empty query": lambda: batch("", candidates)}
    pairs = workload.pairs
    f = (impl.pair_folded or folded(impl.pair)) if workload.folded else impl.pair
    noop = operator.is_
    return {"floor": lambda: [f("", "") for _a, _b in pairs],
            "no-op C call": lambda: [noop(a, b) for a, b in pairs]}


def time_workload(workload: Workload, impls: list[Impl], budget: float) -> dict:
    """Returns {impl name: ns per item}, the floors of the row (see
    `floor_runners`) and the check outcomes."""
    runs = [runner(impl, workload) for impl in impls]
    # Also warms every path up.
    results = [impl.as_list(run()) if workload.kind == "batch" else run()
               for impl, run in zip(impls, runs)]
    checks = {}
    for impl, result in zip(impls[1:], results[1:]):
        checks[impl.name] = agree(results[0], result) if impl.checked else (None, "not the same measure")
    floors = floor_runners(impls[0], workload)
    runs += list(floors.values())

    # Loops per round, so that each round of each implementation lasts about
    # `budget` seconds (at least one loop); implementations slower than that
    # get fewer rounds, at least three.
    loops, rounds = [], []
    for run in runs:
        start = time.thread_time()
        run()
        once = max(time.thread_time() - start, 1e-9)
        loops.append(max(1, min(1000, int(budget / once))))
        rounds.append(workload.rounds if once <= budget else max(3, min(workload.rounds, int(1.0 / once))))
    best = [float("inf")] * len(runs)
    gc_was_enabled = gc.isenabled()
    gc.disable()
    try:
        for r in range(max(rounds)):
            for k, run in enumerate(runs):
                if r >= rounds[k]:
                    continue
                # CPU time of this thread: time spent waiting for a core that
                # another process holds does not count.
                start = time.thread_time_ns()
                for _ in range(loops[k]):
                    run()
                best[k] = min(best[k], (time.thread_time_ns() - start) / loops[k])
    finally:
        if gc_was_enabled:
            gc.enable()
    ns = {impl.name: best[k] / workload.items for k, impl in enumerate(impls)}
    floor_ns = {name: best[len(impls) + k] / workload.items for k, name in enumerate(floors)}
    return {"ns_per_item": ns, "floor_ns": floor_ns, "checks": checks}


def cpu_model() -> str:
    try:
        with open("/proc/cpuinfo", encoding="utf-8") as f:
            for line in f:
                if line.startswith("model name"):
                    return line.split(":", 1)[1].strip()
    except OSError:
        pass
    return platform.processor() or "unknown"


def format_ns(ns: float) -> str:
    if ns >= 1e6:
        return f"{ns / 1e6:.2f} ms"
    if ns >= 1e4:
        return f"{ns / 1e3:.1f} us"
    return f"{ns:.1f} ns"


def print_table(measure: str, rows: list[dict], peers: list[str]) -> None:
    print(f"\n== {MEASURE_TITLES[measure]} (ns per pair or candidate; "
          f"x = peer time / quillmatch time)")
    header = f"{'workload':50}{'quillmatch':>12}"
    for peer in peers:
        header += f"{peer:>24}"
    print(header)
    for row in rows:
        ns = row["ns_per_item"]
        line = f"{row['workload']:50}{format_ns(ns['quillmatch']):>12}"
        for peer in peers:
            if peer not in ns:
                line += f"{'-':>24}"
                continue
            ratio = ns[peer] / ns["quillmatch"]
            ok, _ = row["checks"].get(peer, (True, ""))
            mark = "" if ok is not False else " !"
            line += f"{format_ns(ns[peer]) + f' {ratio:6.2f}x' + mark:>24}"
        print(line)


def print_floors(measure: str, rows: list[dict]) -> None:
    """Prints how far each row is from its floor: quillmatch's time less the
    floor's, and the ratio rapidfuzz would show if quillmatch's scans cost
    nothing (rapidfuzz time / floor time). Batches also show the empty-query
    batch, which adds the result list to the intake, and the ratio against it."""
    print(f"\n-- {MEASURE_TITLES[measure]}: floors (pairs: the call on two empty "
          f"strings, and a no-op C call; batches: the intake probe, and the batch "
          f"with an empty query)")
    print(f"{'workload':50}{'quillmatch':>12}{'floor':>12}{'above it':>12}"
          f"{'ceiling':>10}{'no-op C':>12}{'empty query':>14}{'ceiling':>10}")
    for row in rows:
        ns, floor = row["ns_per_item"], row["floor_ns"]
        rf = ns.get("rapidfuzz")
        ceiling = f"{rf / floor['floor']:.2f}x" if rf else "-"
        noop = format_ns(floor["no-op C call"]) if "no-op C call" in floor else "-"
        empty = floor.get("empty query")
        empty_ceiling = f"{rf / empty:.2f}x" if rf and empty else "-"
        print(f"{row['workload']:50}{format_ns(ns['quillmatch']):>12}"
              f"{format_ns(floor['floor']):>12}{format_ns(ns['quillmatch'] - floor['floor']):>12}"
              f"{ceiling:>10}{noop:>12}{format_ns(empty) if empty else '-':>14}"
              f"{empty_ceiling:>10}")


def plot(report: dict, path: Path) -> None:
    try:
        import matplotlib
    except ImportError:
        print("matplotlib missing: no plot written", file=sys.stderr)
        return
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    fig, axes = plt.subplots(1, 3, figsize=(18, 7.5), sharey=True)
    names = [w["workload"] for w in report["workloads"] if w["measure"] == "levenshtein"]
    for ax, measure in zip(axes, MEASURES):
        rows = [w for w in report["workloads"] if w["measure"] == measure]
        peers = [p for p in report["peers"][measure]]
        height = 0.8 / max(1, len(peers))
        for k, peer in enumerate(peers):
            ys, xs = [], []
            for y, row in enumerate(rows):
                ns = row["ns_per_item"]
                if peer in ns:
                    ys.append(y + (k - (len(peers) - 1) / 2) * height)
                    xs.append(ns[peer] / ns["quillmatch"])
            ax.barh(ys, xs, height=height, label=peer)
        ax.axvline(1.0, color="black", linewidth=1)
        ax.set_xscale("log")
        ax.set_title(MEASURE_TITLES[measure])
        ax.set_xlabel("peer time / quillmatch time (log; right of 1: quillmatch faster)")
        ax.legend(fontsize=8, loc="lower right")
        ax.grid(axis="x", which="both", alpha=0.3)
    axes[0].set_yticks(range(len(names)))
    axes[0].set_yticklabels(names, fontsize=8)
    axes[0].invert_yaxis()
    fig.suptitle(f"quillmatch against its peers, one run on {report['machine']['cpu']} "
                 f"(Python {report['machine']['python']}, one thread)")
    fig.tight_layout()
    fig.savefig(path, dpi=110)
    plt.close(fig)


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--quick", action="store_true", help="smaller inputs, fewer rounds (about a minute and a half)")
    parser.add_argument("--out", type=Path, default=ROOT / "bench" / "results")
    parser.add_argument("--only", default="", help="run only workloads whose name contains this")
    parser.add_argument("--peers", default="",
                        help="comma-separated peers to time (default: every one installed)")
    args = parser.parse_args()

    impls, versions = implementations()
    if args.peers:
        keep = {"quillmatch", *args.peers.split(",")}
        impls = {m: [i for i in found if i.name.rstrip("*") in keep] for m, found in impls.items()}
        versions = {k: v for k, v in versions.items() if k in keep}
    budget = 0.004 if args.quick else 0.01
    report = {
        "machine": {"cpu": cpu_model(), "python": platform.python_version(),
                    "platform": platform.platform(), "cores": os.cpu_count()},
        "mode": "quick" if args.quick else "full",
        "versions": versions,
        "peers": {m: [i.name for i in impls[m][1:]] for m in MEASURES},
        "workloads": [],
    }
    failures = []
    started = time.perf_counter()
    for workload in workloads(args.quick):
        if args.only and args.only not in workload.name:
            continue
        for measure in workload.measures:
            outcome = time_workload(workload, impls[measure], budget)
            row = {"workload": workload.name, "measure": measure, "kind": workload.kind,
                   "items": workload.items, **outcome}
            report["workloads"].append(row)
            for peer, (ok, detail) in outcome["checks"].items():
                if ok is False:
                    failures.append(f"{workload.name} / {measure} / {peer}: {detail}")
        print(f"  timed {workload.name}", file=sys.stderr)
    for measure in MEASURES:
        rows = [w for w in report["workloads"] if w["measure"] == measure]
        print_table(measure, rows, report["peers"][measure])
        print_floors(measure, rows)
    print(f"\n({time.perf_counter() - started:.0f} s; {report['machine']['cpu']}, "
          f"Python {report['machine']['python']}; versions: "
          + ", ".join(f"{k} {v}" for k, v in versions.items()) + ")")
    if failures:
        print("\nResults differ from quillmatch's:")
        for failure in failures:
            print("  " + failure)

    # JSON keeps the checks as plain values.
    for row in report["workloads"]:
        row["checks"] = {peer: {"agree": ok, "detail": detail}
                         for peer, (ok, detail) in row["checks"].items()}
    args.out.mkdir(parents=True, exist_ok=True)
    suffix = "-quick" if args.quick else ""
    (args.out / f"compare{suffix}.json").write_text(json.dumps(report, indent=1) + "\n")
    plot(report, args.out / f"compare{suffix}.png")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
