"""Suggests corrections for misspelt words from a bundled English word list.

    python examples/did_you_mean.py recieve definately accomodate
    printf 'teh\\nseperate\\n' | python examples/did_you_mean.py --top 5 --json

Words come as arguments or, when there are none, one per line on standard
input. Suggestions are ranked by restricted Damerau (OSA) distance, since a
swap of two letters is the commonest typo; then by how common the word is
(the SCOWL size level of data/words.tsv, small for common words); then, among
words as common, those reached with more swaps first (their Levenshtein
distance exceeds the OSA distance by one per swap: "teh" is one swap from
"the" but one substitution from "tea"); then by Jaro-Winkler similarity.

The words are kept grouped by length. A word whose length differs from the
query's by k is at least k edits away, so a query is scored first against the
words within two characters of its length, with one batch call per length,
and the band widens only while a word outside it could still be among the
best. Levenshtein and Jaro-Winkler are computed only for the words within
the distance that makes the cut.
"""

from __future__ import annotations

import argparse
import heapq
import json
import operator
import pathlib
import sys
from typing import Iterable, Iterator, NamedTuple, Optional, TextIO

import quillmatch

WORDS = pathlib.Path(__file__).resolve().parent.parent / "data" / "words.tsv"
# The level of a word listed without one: after every SCOWL level (10 to 95).
NO_LEVEL = 100
# Half-width of the first band of lengths scored; the band widens one length
# on each side at a time, so a query is scored only against the lengths it needs.
FIRST_BAND = 0


class Suggestion(NamedTuple):
    word: str
    distance: int
    similarity: float


def load_words(path: "pathlib.Path | str" = WORDS) -> list[tuple[str, int]]:
    """Reads one word a line, optionally followed by a tab and its level;
    blank lines and lines starting with '#' are skipped. Raises ValueError
    naming the line for a level that is not an integer."""
    entries = []
    with open(path, encoding="utf-8") as f:
        for number, line in enumerate(f, 1):
            line = line.rstrip("\r\n")
            if not line.strip() or line.startswith("#"):
                continue
            word, tab, level = line.partition("\t")
            if not word.strip():
                continue
            try:
                entries.append((word.strip(), int(level) if tab else NO_LEVEL))
            except ValueError:
                raise ValueError(f"{path}:{number}: level {level!r} is not an integer") from None
    return entries


class Suggester:
    """Ranks the words of a list against queries; holds the list grouped by
    length of the compared form (lower-cased unless case-sensitive). Words
    with the same compared form ("US", "us") are one suggestion: the most
    common of them, the first listed among equals, stands for all."""

    def __init__(self, entries: Iterable[tuple[str, int]], case_sensitive: bool = False):
        self.case_sensitive = case_sensitive
        # compared form -> (level, position in the list, word)
        chosen: dict[str, tuple[int, int, str]] = {}
        for order, (word, level) in enumerate(entries):
            form = word if case_sensitive else word.lower()
            if form not in chosen or level < chosen[form][0]:
                chosen[form] = (level, order, word)
        # length -> (compared forms, (level, position) keys, words)
        self.by_length: dict[int, tuple[list[str], list[tuple[int, int]], list[str]]] = {}
        for form, (level, order, word) in chosen.items():
            forms, keys, words = self.by_length.setdefault(len(form), ([], [], []))
            forms.append(form)
            keys.append((level, order))
            words.append(word)
        self.max_length = max(self.by_length, default=0)

    def suggest(self, query: str, count: int = 3) -> list[Suggestion]:
        """Returns the `count` best words for `query`, best first: the same
        as ranking every word by (distance, level, -swaps, -similarity,
        list order)."""
        if count <= 0:
            return []
        form = query if self.case_sensitive else query.lower()
        # Distances of the lengths scored so far, each also as a row of bytes
        # (clamped to 255) that C-speed count() and find() can search, and
        # the half-width of the band of lengths around len(form) they cover.
        scored: dict[int, tuple[list[int], bytes]] = {}
        width = FIRST_BAND
        while True:
            for length in range(max(len(form) - width, 0), len(form) + width + 1):
                if length in self.by_length and length not in scored:
                    distances = quillmatch.damerau_batch(form, self.by_length[length][0])
                    scored[length] = (distances, byte_row(distances))
            cut = cut_distance([row for _, row in scored.values()], count)
            # Words outside the band are at least width + 1 edits away: they
            # can neither beat nor tie the cut when it is within the band.
            if cut is not None and cut <= width:
                break
            if len(form) - width <= 0 and len(form) + width >= self.max_length:
                break
            width += 1

        # (distance, (level, position), word, compared form) of every word
        # within the cut; of every word when there is no cut (fewer words
        # than asked for, or distances beyond the rows' 255).
        contenders = []
        for length, (distances, row) in scored.items():
            forms, keys, words = self.by_length[length]
            positions: Iterable[int] = range(len(distances))
            if cut is not None:
                positions = positions_of(row, cut)
            for i in positions:
                contenders.append((distances[i], keys[i], words[i], forms[i]))
        forms = [c[3] for c in contenders]
        levenshtein = quillmatch.levenshtein_batch(form, forms)
        similarities = quillmatch.jaro_winkler_batch(form, forms)
        best = heapq.nsmallest(count, range(len(contenders)), key=lambda j: (
            contenders[j][0], contenders[j][1][0], contenders[j][0] - levenshtein[j],
            -similarities[j], contenders[j][1][1]))
        return [Suggestion(contenders[j][2], contenders[j][0], similarities[j]) for j in best]


def byte_row(distances: list[int]) -> bytes:
    try:
        return bytes(distances)
    except ValueError:  # a distance above 255: only from queries that long
        return bytes(min(d, 255) for d in distances)


def cut_distance(rows: list[bytes], count: int) -> Optional[int]:
    """The distance of the count-th best word of the rows, or None when they
    hold fewer words or it is 255 or more."""
    seen = 0
    for distance in range(255):
        seen += sum(row.count(distance) for row in rows)
        if seen >= count:
            return distance
    return None


def positions_of(row: bytes, cut: int) -> Iterator[int]:
    """Positions of the bytes of the row up to cut, by value then position."""
    for distance in range(cut + 1):
        i = row.find(distance)
        while i >= 0:
            yield i
            i = row.find(distance, i + 1)


def positive(text: str) -> int:
    value = int(text)
    if value < 1:
        raise argparse.ArgumentTypeError(f"must be at least 1: {text!r}")
    return value


def make_parser() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(
        prog="did_you_mean.py",
        description="Suggests corrections for misspelt words, ranked by OSA distance, "
                    "then by how common the word is, then by Jaro-Winkler similarity.",
        epilog="Exit status: 0 on success, 2 for bad arguments or an unreadable word list, "
               "1 for standard input that is not text.")
    parser.add_argument("words", nargs="*", metavar="WORD",
                        help="words to correct (default: one per line from standard input)")
    parser.add_argument("--top", type=positive, default=3, metavar="N",
                        help="number of suggestions per word (default: %(default)s)")
    parser.add_argument("--words", dest="word_file", type=pathlib.Path, default=WORDS,
                        metavar="FILE",
                        help="word list, one word a line, optionally word<TAB>level with "
                             "small levels for common words (default: data/words.tsv)")
    parser.add_argument("--case-sensitive", action="store_true",
                        help="compare case-sensitively (default: full Unicode lower-casing)")
    parser.add_argument("--json", action="store_true",
                        help='print one JSON object per word: {"query": ..., "suggestions": '
                             '[{"word": ..., "distance": ..., "similarity": ...}, ...]}')
    return parser


def format_text(query: str, suggestions: list[Suggestion]) -> str:
    if not suggestions:
        return f"{query!r}: no suggestions"
    best = ", ".join(f"{s.word} ({s.distance}, {s.similarity:.3f})" for s in suggestions)
    return f"{query!r}: did you mean {best}?"


def format_json(query: str, suggestions: list[Suggestion]) -> str:
    return json.dumps({"query": query, "suggestions": [s._asdict() for s in suggestions]},
                      ensure_ascii=False)


def main(argv: list[str], stdin: Optional[TextIO] = None) -> int:
    parser = make_parser()
    args = parser.parse_args(argv)
    if any(not word.strip() for word in args.words):
        parser.error("a word to correct may not be empty")
    for word in args.words:
        if not is_text(word):
            parser.error(f"not valid text in the locale's encoding: {word!r}")
    try:
        entries = load_words(args.word_file)
    except (OSError, UnicodeDecodeError, ValueError) as error:
        parser.error(f"cannot read the word list: {error}")
    suggester = Suggester(entries, case_sensitive=args.case_sensitive)
    queries: Iterable[str] = args.words
    if not args.words:
        # Blank lines are skipped, so that a trailing newline asks nothing.
        lines = map(operator.methodcaller("strip"), stdin or sys.stdin)
        queries = filter(None, lines)
    output = format_json if args.json else format_text
    try:
        for query in queries:
            if not is_text(query):
                raise UnicodeError(f"not valid text in the locale's encoding: {query!r}")
            print(output(query, suggester.suggest(query, args.top)), flush=not args.words)
    except UnicodeError as error:  # standard input that does not decode
        print(f"{parser.prog}: error: {error}", file=sys.stderr)
        return 1
    return 0


def is_text(word: str) -> bool:
    """False for a str holding lone surrogates (undecodable bytes of argv)."""
    try:
        word.encode("utf-8")
    except UnicodeEncodeError:
        return False
    return True


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
