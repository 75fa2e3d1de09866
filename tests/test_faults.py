"""Internal faults at the module's boundary.

A build configured with QUILLMATCH_FAULT_INJECTION (scripts/check-sanitizers
makes one) throws a C++ exception inside the core for inputs that start with
a trigger text. These tests show that such a fault surfaces as PanicException
with its message, from a pair call and from the lock-free stretch of a large
batch, that the lock is held again and every reference released, and that the
interpreter stays usable. In the normal build the same inputs are plain text.
"""
import ctypes
import gc
import os
import signal
import subprocess
import sys
import threading
import tracemalloc

import pytest

import quillmatch
from support import levenshtein_ref, osa_ref

TRIGGER = "\u2407fault:"
OPAQUE_TRIGGER = "\u2407opaque-fault"
OPAQUE_MESSAGE = "the native code of quillmatch failed with an exception that carries no message"


def _raised_by(call):
    try:
        call()
    except BaseException as error:  # noqa: B036 - PanicException is a BaseException
        return error
    return None


def _panic_type():
    """Returns the PanicException class when the trigger raises it, else None."""
    error = _raised_by(lambda: quillmatch.levenshtein_bp(TRIGGER + "probe", ""))
    if error is not None and type(error).__qualname__ == "PanicException":
        return type(error)
    return None


PANIC_TYPE = _panic_type()
INJECTED = PANIC_TYPE is not None
if os.environ.get("QUILLMATCH_EXPECT_FAULT_INJECTION") == "1" and not INJECTED:
    raise RuntimeError("the module was expected to be built with QUILLMATCH_FAULT_INJECTION")
needs_injection = pytest.mark.skipif(not INJECTED, reason="module built without fault injection")


def fresh(text):
    """Returns a new, uninterned str equal to `text`, so refcounts are ours alone."""
    return "".join(list(text))


def panic_of(call):
    """Returns the PanicException that `call` raises, without its traceback
    (which would keep the arguments of the frames alive)."""
    error = _raised_by(call)
    assert error is not None, "no exception raised"
    assert type(error).__qualname__ == "PanicException", repr(error)
    return error.with_traceback(None)


def holds_the_lock():
    # ctypes.pythonapi calls keep the lock, so this asks the running thread.
    return ctypes.pythonapi.PyGILState_Check() == 1


PAIR_CALLS = [
    ("levenshtein_bp str_1", lambda t: quillmatch.levenshtein_bp(t, "abc"), "levenshtein_bp str_1"),
    ("damerau_bp str_2", lambda t: quillmatch.damerau_bp("abc", t, max_len=100), "damerau_bp str_2"),
    ("jaro_winkler_similarity", lambda t: quillmatch.jaro_winkler_similarity(
        t, "x", p=0.2, case_insensitive=True, score_cutoff=0.5), "jaro_winkler_similarity"),
    ("multi-word pattern " + "x" * 80,
     lambda t: quillmatch.levenshtein_bp(t, "y" * 200), "multi-word pattern " + "x" * 80),
    ("non-ASCII message \u00e9\u65e5\U0001f600",
     lambda t: quillmatch.damerau_bp(t, t), "non-ASCII message \u00e9\u65e5\U0001f600"),
]


@needs_injection
@pytest.mark.parametrize("tail, call, message", PAIR_CALLS, ids=[c[0][:24] for c in PAIR_CALLS])
def test_pair_fault_is_a_panic_with_its_message(tail, call, message):
    text = fresh(TRIGGER + tail)
    before = sys.getrefcount(text)
    assert panic_of(lambda: call(text)).args == (message,)
    assert sys.getrefcount(text) == before
    assert holds_the_lock()


@needs_injection
def test_panic_exception_class():
    error = panic_of(lambda: quillmatch.levenshtein_bp(TRIGGER + "class", ""))
    cls = type(error)
    assert cls.__module__ == "tarnbind_runtime"
    assert cls.__qualname__ == "PanicException"
    assert cls.__bases__ == (BaseException,)
    assert not isinstance(error, Exception)
    assert "fails unexpectedly" in cls.__doc__
    # One class for the life of the process.
    assert type(panic_of(lambda: quillmatch.damerau_bp("", TRIGGER))) is cls


@needs_injection
def test_fault_without_message_gets_the_generic_message():
    error = panic_of(lambda: quillmatch.jaro_winkler_similarity(OPAQUE_TRIGGER, "a"))
    assert error.args == (OPAQUE_MESSAGE,)


@needs_injection
def test_panic_escapes_except_exception():
    with pytest.raises(BaseException) as excinfo:
        try:
            quillmatch.levenshtein_bp(TRIGGER + "escapes", "")
        except Exception:  # noqa: BLE001 - must not catch it
            pytest.fail("PanicException was caught as an Exception")
    assert type(excinfo.value).__qualname__ == "PanicException"


BATCHES = [
    # function, case_insensitive, candidate count: below and at the lock-release threshold
    (quillmatch.levenshtein_batch, None, 9999),
    (quillmatch.levenshtein_batch, True, 10000),
    (quillmatch.damerau_batch, None, 10000),
    (quillmatch.damerau_batch, False, 9999),
    (quillmatch.jaro_winkler_batch, None, 10000),
    (quillmatch.jaro_winkler_batch, True, 9999),
]


@needs_injection
@pytest.mark.parametrize("function, case_insensitive, count", BATCHES,
                         ids=[f"{f.__name__}-{c}" for f, _, c in BATCHES])
def test_batch_fault_releases_everything(function, case_insensitive, count):
    query = fresh("kitten")
    # Short ASCII candidates take the lane scans, the others the pair path;
    # the faulting candidate sits in the middle, so results exist before it.
    candidates = [fresh(("sitting", "kitchen", "k\u00eftten", "x" * 70)[i % 4]) for i in range(count)]
    candidates[count // 2] = fresh(TRIGGER + function.__name__)
    sample = [candidates[0], candidates[1], candidates[2], candidates[3], candidates[count // 2]]
    counts = [sys.getrefcount(query), sys.getrefcount(candidates)] + [sys.getrefcount(c) for c in sample]

    error = panic_of(lambda: function(query, candidates, case_insensitive=case_insensitive))
    assert error.args == (function.__name__,)
    del error
    assert holds_the_lock()
    assert [sys.getrefcount(query), sys.getrefcount(candidates)] + \
        [sys.getrefcount(c) for c in sample] == counts

    # The interpreter goes on: the same call without the trigger gives results.
    candidates[count // 2] = "kitten"
    results = function(query, candidates, case_insensitive=case_insensitive)
    assert len(results) == count
    if function is quillmatch.levenshtein_batch:
        assert results[:4] == [levenshtein_ref("kitten", c) for c in candidates[:4]]
        assert results[count // 2] == 0


@needs_injection
def test_faulting_batches_leave_no_memory_behind():
    candidates = ["a\u00e9" + str(i) for i in range(10000)] + [TRIGGER + "leak"]
    query = "a\u00e9"

    def fault():
        panic_of(lambda: quillmatch.levenshtein_batch(query, candidates))

    for _ in range(3):
        fault()
    gc.collect()
    tracemalloc.start()
    try:
        before = tracemalloc.get_traced_memory()[0]
        for _ in range(30):
            fault()
        gc.collect()
        grown = tracemalloc.get_traced_memory()[0] - before
    finally:
        tracemalloc.stop()
    # Each call makes 10001 bytes objects (about 400 KB); none may survive.
    assert grown < 64 * 1024, grown


@needs_injection
def test_fault_on_one_thread_leaves_the_others_running():
    candidates = ["sitting"] * 10000 + [TRIGGER + "thread"]
    expected = quillmatch.levenshtein_batch("kitten", candidates[:-1])
    errors, results = [], []

    def faulting():
        for _ in range(20):
            errors.append(type(panic_of(
                lambda: quillmatch.damerau_batch("kitten", candidates))).__qualname__)

    def working():
        for _ in range(20):
            results.append(quillmatch.levenshtein_batch("kitten", candidates[:-1]) == expected)

    threads = [threading.Thread(target=faulting), threading.Thread(target=working)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    assert errors == ["PanicException"] * 20
    assert results == [True] * 20


def under_asan():
    return hasattr(ctypes.CDLL(None), "__asan_init")


# Run in a child whose address space is capped 200 MiB above what it uses.
OUT_OF_MEMORY = """
import resource
import quillmatch

def address_space():
    with open("/proc/self/status") as status:
        for line in status:
            if line.startswith("VmSize:"):
                return int(line.split()[1]) * 1024

class Huge:
    def __len__(self):
        return 10**8  # several gigabytes of room: more than the cap

    def __getitem__(self, index):
        return ("a", "b", "c")[index]

pattern = "ab" * 4_000_000
limit = address_space() + (200 << 20)
resource.setrlimit(resource.RLIMIT_AS, (limit, limit))
print("hint ignored:", quillmatch._ingest_owned(Huge()), flush=True)
# The multi-word mask table of an 8-million-character pattern takes 256 MB
# (the text is longer than a word, so the pattern stays the first string).
quillmatch.levenshtein_bp(pattern, "abc" * 30)
print("returned", flush=True)
"""


@pytest.mark.skipif(not os.path.exists("/proc/self/status") or under_asan(),
                    reason="needs /proc and an address-space limit that ASan cannot live with")
def test_memory_exhaustion_ends_the_process():
    done = subprocess.run([sys.executable, "-c", OUT_OF_MEMORY], capture_output=True, text=True,
                          timeout=120)
    # A reservation hint that cannot be met is only a hint...
    assert done.stdout.splitlines()[0] == "hint ignored: 3"
    # ...but memory the computation needs and cannot get is fatal, never an exception.
    assert "returned" not in done.stdout
    assert done.returncode == -signal.SIGABRT
    assert "Fatal Python error" in done.stderr and "out of memory" in done.stderr


def test_normal_build_has_no_hook():
    if INJECTED:
        pytest.skip("module built with fault injection")
    text = TRIGGER + "plain text"
    assert quillmatch.levenshtein_bp(text, text) == 0
    assert quillmatch.damerau_batch(text, [OPAQUE_TRIGGER] * 10000)[0] == osa_ref(
        text, OPAQUE_TRIGGER)
    with open(quillmatch.__file__, "rb") as binary:
        assert TRIGGER.encode() not in binary.read()
