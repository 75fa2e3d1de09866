"""Plain references for the measures and helpers shared by the test files.

Imported by name (`from support import ...`): pytest puts this directory on
sys.path through the `pythonpath` setting, which works in every import mode."""
import contextlib
import struct
import sys

import pytest

HAS_NOTES = sys.version_info >= (3, 11)

# Alphabets by storage class: bytes below 0x80, code points below 256, from
# 256 inside the BMP, and above U+FFFF.
ALPHABETS = {
    "ascii": "abcdAB",
    "latin1": "aäéßÿ",
    "bmp": "aΣσ日本語",
    "astral": "a😀𝔘𐍈",
}
BORDER_LENGTHS = [0, 1, 16, 17, 63, 64, 65, 127, 128, 129]

# Letters of both cases for case-insensitive tests, each class of width:
# Kelvin sign (folds to ASCII), capital I with dot (folds to two code points),
# sharp s in both cases, sigma (folds by context), an apostrophe (case-ignorable,
# so it is skipped when the sigma looks at its neighbours) and Deseret.
FOLDING_ALPHABETS = {
    "ascii": "abAB[{",
    "latin1": "aAäÄßÿ",
    "bmp": "aAΣσςΑ'İ\u212a\u1e9e日",
    "astral": "aA\U00010400\U00010428😀Σ",
}

# Width of the machine word the module counts in.
WORD_BITS = 64 if sys.maxsize > 2**32 else 32
WORD_MAX = 2**WORD_BITS - 1


def levenshtein_ref(a, b):
    row = list(range(len(b) + 1))
    for i, ca in enumerate(a, 1):
        prev, row[0] = row[0], i
        for j, cb in enumerate(b, 1):
            prev, row[j] = row[j], min(row[j] + 1, row[j - 1] + 1, prev + (ca != cb))
    return row[-1]


def osa_ref(a, b):
    d = [[i + j if i * j == 0 else 0 for j in range(len(b) + 1)] for i in range(len(a) + 1)]
    for i in range(1, len(a) + 1):
        for j in range(1, len(b) + 1):
            d[i][j] = min(d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + (a[i - 1] != b[j - 1]))
            if i > 1 and j > 1 and a[i - 1] == b[j - 2] and a[i - 2] == b[j - 1]:
                d[i][j] = min(d[i][j], d[i - 2][j - 2] + 1)
    return d[-1][-1]


def jaro_winkler_ref(a, b, p=0.1):
    """The definition, with its fixed order of floating-point operations."""
    n1, n2 = len(a), len(b)
    if n1 == 0 or n2 == 0:
        return 1.0 if n1 == n2 else 0.0
    d = max(max(n1, n2) // 2 - 1, 0)
    f1, f2 = [False] * n1, [False] * n2
    for i in range(n1):
        for j in range(max(0, i - d), min(n2 - 1, i + d) + 1):
            if not f2[j] and a[i] == b[j]:
                f1[i] = f2[j] = True
                break
    m = sum(f1)
    if m == 0:
        return 0.0
    t = sum(x != y for x, y in zip((c for c, f in zip(a, f1) if f), (c for c, f in zip(b, f2) if f)))
    prefix = 0
    while prefix < min(n1, n2, 4) and a[prefix] == b[prefix]:
        prefix += 1
    jaro = ((m - t // 2) / m + (m / n2 + m / n1)) / 3.0
    return jaro + (1.0 - jaro) * (p * prefix) if jaro > 0.7 else jaro


def random_text(rng, length, alphabet):
    return "".join(rng.choice(alphabet) for _ in range(length))


def mutate(rng, text, alphabet, edits):
    """Returns `text` after `edits` random insertions, deletions, substitutions or swaps."""
    chars = list(text)
    for _ in range(edits):
        kind = rng.randrange(4)
        pos = rng.randrange(len(chars) + 1)
        if kind == 0 or not chars:
            chars.insert(pos, rng.choice(alphabet))
        elif kind == 1:
            del chars[min(pos, len(chars) - 1)]
        elif kind == 2:
            chars[min(pos, len(chars) - 1)] = rng.choice(alphabet)
        elif len(chars) > 1:
            k = min(pos, len(chars) - 2)
            chars[k], chars[k + 1] = chars[k + 1], chars[k]
    return "".join(chars)


def assert_note(excinfo, name):
    """Checks the argument note where exceptions have notes, its absence elsewhere."""
    if HAS_NOTES:
        assert excinfo.value.__notes__ == [f"while processing '{name}'"]
    else:
        assert not hasattr(excinfo.value, "__notes__")


def assert_no_note(excinfo):
    assert not hasattr(excinfo.value, "__notes__")


@contextlib.contextmanager
def raises_exactly(exc_type, message, note=None):
    """Expects `exc_type` itself (not a subclass) with `message` as its whole text,
    and the argument note for parameter `note` (or no note at all)."""
    # Compared after the fact: pytest's `match` also sees the notes.
    with pytest.raises(exc_type) as excinfo:
        yield excinfo
    assert excinfo.type is exc_type
    assert str(excinfo.value) == message
    if note is None:
        assert_no_note(excinfo)
    else:
        assert_note(excinfo, note)


class Boom(Exception):
    """Raised by the tests' own objects, to see an exception pass through unchanged."""


def bits(value):
    """The bit pattern of a float, so that results compare bit for bit."""
    assert type(value) is float
    return struct.pack("<d", value)


def too_long(which, length, limit):
    return f'InputTooLong {{ which: "{which}", len: {length}, limit: {limit} }}'


def invalid_prefix_scale(text):
    return f"InvalidPrefixScale {{ value: {text} }}"
