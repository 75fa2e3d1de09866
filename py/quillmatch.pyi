# Type stub of the quillmatch extension module. The wheel installs it twice:
# as quillmatch.pyi beside the binary (editors, pyright) and as the stub-only
# package quillmatch-stubs (mypy, which ignores a lone .pyi in site-packages).
from __future__ import annotations

from typing import Iterator, Optional, Protocol, Sequence, Union

class _StrArrayLike(Protocol):
    """What a batch takes besides a Sequence[str]: an object indexed by int
    and iterated, giving str (a NumPy array of str, whose type is no
    Sequence to the type checker). Written without NumPy, so that checking
    needs no NumPy installed."""

    def __getitem__(self, index: int, /) -> str: ...
    def __iter__(self) -> Iterator[str]: ...

class _NumpyBoolLike(Protocol):
    """numpy.bool_, without NumPy: a scalar with __bool__ and item() giving
    bool. An int has no item(), so 0 and 1 stay rejected, as at run time."""

    def __bool__(self, /) -> bool: ...
    def item(self, /) -> bool: ...

_Flag = Union[bool, _NumpyBoolLike]
_Candidates = Union[Sequence[str], _StrArrayLike]

__all__ = [
    "levenshtein_bp",
    "damerau_bp",
    "jaro_winkler_similarity",
    "levenshtein_batch",
    "damerau_batch",
    "jaro_winkler_batch",
    "_ingest_owned",
    "_ingest_borrow",
    "_ingest_borrow_and_deref",
]

def levenshtein_bp(
    str_1: str,
    str_2: str,
    max_len: Optional[int] = None,
    case_insensitive: Optional[_Flag] = None,
    score_cutoff: Optional[int] = None,
) -> int:
    """Levenshtein distance (insertions, deletions, substitutions of code points).

    max_len: ValueError when either string is longer (after lower-casing).
    case_insensitive: full Unicode lower-casing of both strings first.
    score_cutoff: a distance above it is returned as score_cutoff + 1.
    """

def damerau_bp(
    str_1: str,
    str_2: str,
    max_len: Optional[int] = None,
    case_insensitive: Optional[_Flag] = None,
    score_cutoff: Optional[int] = None,
) -> int:
    """Restricted Damerau (optimal string alignment) distance: Levenshtein
    edits plus adjacent transpositions, no substring edited twice.

    Options as for levenshtein_bp.
    """

def jaro_winkler_similarity(
    str_1: str,
    str_2: str,
    p: Optional[float] = None,
    max_len: Optional[int] = None,
    case_insensitive: Optional[_Flag] = None,
    score_cutoff: Optional[float] = None,
) -> float:
    """Jaro-Winkler similarity from 0.0 to 1.0.

    p: prefix scale in [0, 0.25], default 0.1 (ValueError outside).
    score_cutoff: a similarity below it is returned as 0.0.
    max_len, case_insensitive: as for levenshtein_bp.
    """

def levenshtein_batch(
    query: str,
    candidates: _Candidates,
    case_insensitive: Optional[_Flag] = None,
) -> list[int]:
    """levenshtein_bp(query, c, case_insensitive=...) for every candidate c, in
    order, except that an empty query gives the length of c as passed, even
    case-insensitively. The interpreter lock is released from 10000
    candidates; candidates must not be a str itself.
    """

def damerau_batch(
    query: str,
    candidates: _Candidates,
    case_insensitive: Optional[_Flag] = None,
) -> list[int]:
    """As levenshtein_batch, with damerau_bp(query, c, case_insensitive=...)."""

def jaro_winkler_batch(
    query: str,
    candidates: _Candidates,
    p: Optional[float] = None,
    case_insensitive: Optional[_Flag] = None,
) -> list[float]:
    """jaro_winkler_similarity(query, c, p=..., case_insensitive=...) for every
    candidate c, in order. The interpreter lock is released from 10000
    candidates; candidates must not be a str itself.
    """

def _ingest_owned(candidates: _Candidates) -> int: ...
def _ingest_borrow(candidates: _Candidates) -> int: ...
def _ingest_borrow_and_deref(candidates: _Candidates) -> int: ...
