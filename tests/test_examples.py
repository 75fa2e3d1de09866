"""The examples: their results against plain references, and the C++ example
built against the installed core package."""
import contextlib
import doctest
import importlib.util
import io
import json
import pathlib
import re
import shutil
import subprocess
import sys

import pytest

import quillmatch
from support import jaro_winkler_ref, levenshtein_ref, osa_ref

ROOT = pathlib.Path(__file__).resolve().parent.parent
EXAMPLES = ROOT / "examples"


def load_example(name):
    """Imports examples/<name>.py under its own name, so that pickles of its
    functions refer to a module that workers can import."""
    if name not in sys.modules:
        spec = importlib.util.spec_from_file_location(name, EXAMPLES / f"{name}.py")
        module = importlib.util.module_from_spec(spec)
        sys.modules[name] = module
        spec.loader.exec_module(module)
    return sys.modules[name]


def run_main(module, argv):
    out = io.StringIO()
    with contextlib.redirect_stdout(out):
        code = module.main(argv)
    return code, out.getvalue()


def test_readme_examples_give_what_they_show():
    readme = (ROOT / "README.md").read_text(encoding="utf-8")
    test = doctest.DocTestParser().get_doctest(readme, {}, "README.md", "README.md", 0)
    assert len(test.examples) >= 20
    runner = doctest.DocTestRunner(optionflags=doctest.ELLIPSIS)
    out = io.StringIO()
    runner.run(test, out=out.write)
    assert runner.failures == 0, out.getvalue()


# did_you_mean ---------------------------------------------------------------

SUGGESTIONS = [
    ("recieve", "receive"),
    ("definately", "definitely"),
    ("accomodate", "accommodate"),
    ("Febuary", "February"),
    ("teh", "the"),  # one swap; "tea" and "ten" are one substitution and as common
]


def test_did_you_mean_suggests_the_right_word():
    example = load_example("did_you_mean")
    suggester = example.Suggester(example.load_words())
    for query, best in SUGGESTIONS:
        word, distance, similarity = suggester.suggest(query)[0]
        assert word == best
        assert distance == osa_ref(query.lower(), word.lower())
        assert similarity == jaro_winkler_ref(query.lower(), word.lower())
    code, output = run_main(example, ["recieve"])
    assert code == 0
    assert output.startswith("'recieve': did you mean receive (1, ")


def ranked_by_reference(entries, query, count, case_sensitive):
    fold = (lambda s: s) if case_sensitive else str.lower
    best = {}  # one entry per compared form: the lowest level, then the first
    for order, (word, level) in enumerate(entries):
        if fold(word) not in best or level < best[fold(word)][0]:
            best[fold(word)] = (level, order, word)
    q = fold(query)
    keys = sorted((quillmatch.damerau_bp(q, f), level,
                   quillmatch.damerau_bp(q, f) - quillmatch.levenshtein_bp(q, f),
                   -quillmatch.jaro_winkler_similarity(q, f), order, word)
                  for f, (level, order, word) in best.items())
    return [(k[-1], k[0], -k[3]) for k in keys[:count]]


def test_did_you_mean_ranks_as_scoring_every_word():
    example = load_example("did_you_mean")
    entries = example.load_words()[::97] + [("Kitten", 50), ("kitten", 60), ("x" * 300, 10)]
    queries = ["kitten", "KITEN", "teh", "a", "acommodation", "x" * 290, "é" * 12, "x" * 64]
    for case_sensitive in (False, True):
        suggester = example.Suggester(entries, case_sensitive=case_sensitive)
        for query in queries:
            for count in (1, 3, 40):
                assert [tuple(s) for s in suggester.suggest(query, count)] == \
                    ranked_by_reference(entries, query, count, case_sensitive), (query, count)
    tiny = example.Suggester([("ab", 1), ("abcdefgh", 1)])
    assert [s.word for s in tiny.suggest("abc", 5)] == ["ab", "abcdefgh"]


def run_cli(example, argv, stdin=""):
    """Runs main(); returns (exit status, standard output, standard error)."""
    out, err = io.StringIO(), io.StringIO()
    with contextlib.redirect_stdout(out), contextlib.redirect_stderr(err):
        try:
            code = example.main(argv, io.StringIO(stdin))
        except SystemExit as stop:
            code = stop.code
    return code, out.getvalue(), err.getvalue()


def test_did_you_mean_command_line(tmp_path):
    example = load_example("did_you_mean")
    code, out, _ = run_cli(example, ["--help"])
    assert code == 0 and out.startswith("usage: did_you_mean.py") and "--case-sensitive" in out
    words = tmp_path / "words.tsv"
    words.write_text("# a comment\nThe\t20\nthe\t30\ntea\t20\n\nten\nteh's\t40\n", encoding="utf-8")
    code, out, _ = run_cli(example, ["--words", str(words), "--json", "--top", "2", "teh", "Tehs"])
    assert code == 0
    assert [json.loads(line) for line in out.splitlines()] == [
        {"query": "teh", "suggestions": [
            {"word": "The", "distance": 1, "similarity": jaro_winkler_ref("teh", "the")},
            {"word": "tea", "distance": 1, "similarity": jaro_winkler_ref("teh", "tea")}]},
        {"query": "Tehs", "suggestions": [
            {"word": "teh's", "distance": 1, "similarity": jaro_winkler_ref("tehs", "teh's")},
            {"word": "The", "distance": 2, "similarity": jaro_winkler_ref("tehs", "the")}]}]
    code, out, _ = run_cli(example, ["--words", str(words), "--case-sensitive", "--top", "1"],
                           stdin="the\n\n  Teh \n")
    assert code == 0
    assert out == ("'the': did you mean the (0, 1.000)?\n"
                   f"'Teh': did you mean The (1, {jaro_winkler_ref('Teh', 'The'):.3f})?\n")
    code, out, err = run_cli(example, ["--words", str(words)], stdin="the\ncaf\udce9\n")
    assert (code, out.count("\n")) == (1, 1) and "'caf\\udce9'" in err
    bad_level = tmp_path / "bad.tsv"
    bad_level.write_text("word\tcommon\n", encoding="utf-8")
    for argv, message in [
        ([""], "a word to correct may not be empty"),
        (["--top", "0", "x"], "argument --top: must be at least 1: '0'"),
        (["--top", "x", "y"], "argument --top: invalid positive value: 'x'"),
        (["--words", str(tmp_path / "none"), "x"], "cannot read the word list"),
        (["--words", str(bad_level), "x"], "bad.tsv:1: level 'common' is not an integer"),
        (["--colour", "x"], "unrecognized arguments: --colour"),
        (["ok", "caf\udce9"], "not valid text in the locale's encoding: 'caf\\udce9'"),
    ]:
        code, out, err = run_cli(example, argv)
        assert (code, out) == (2, ""), argv
        assert err.startswith("usage: did_you_mean.py") and message in err, err


# dedupe_threads -------------------------------------------------------------


def reference_duplicates(incoming, master, max_edits):
    return [[j for j, record in enumerate(master)
             if abs(len(query) - len(record)) <= max_edits
             and osa_ref(query.lower(), record.lower()) <= max_edits]
            for query in incoming]


@pytest.mark.parametrize("workers", [1, 2])
@pytest.mark.parametrize("max_edits", [0, 1])
def test_dedupe_matches_the_reference_on_a_small_list(workers, max_edits):
    example = load_example("dedupe_threads")
    # Mistyped copies and unrelated records, a copy in upper case, and a
    # record that equals a master record only when its last capital sigma
    # lower-cases to a final sigma.
    master = example.make_master(40) + ["\u03bf\u03b4\u03bf\u03c2"]
    incoming = example.make_incoming(master, 12) + [master[3].upper(), "\u039f\u0394\u039f\u03a3"]
    found = example.find_duplicates(incoming, master, max_edits, workers)
    assert found == reference_duplicates(incoming, master, max_edits)
    assert found[-2:] == [[3], [len(master) - 1]]


def test_dedupe_on_threads_with_the_lock_released():
    example = load_example("dedupe_threads")
    master = example.make_master(10000)  # the lock-release threshold
    incoming = example.make_incoming(master, 24)
    one = example.find_duplicates(incoming, master, 1, workers=1)
    assert example.find_duplicates(incoming, master, 1, workers=2) == one
    for query, hits in zip(incoming, one):
        assert hits == [j for j, record in enumerate(master)
                        if quillmatch.damerau_bp(query, record, case_insensitive=True) <= 1]
    assert sum(map(bool, one)) >= 12  # every mistyped copy finds its original
    code, output = run_main(example, ["--master", "10000", "--incoming", "8"])
    assert code == 0
    assert re.search(r"^1 thread: [\d.]+ s; 2 threads: [\d.]+ s; speed-up [\d.]+x$", output, re.M)


# dask_scale_out -------------------------------------------------------------


def reference_best(words, query, count):
    ranked = sorted(
        (osa_ref(query.lower(), w.lower()), -jaro_winkler_ref(query.lower(), w.lower()), i, w)
        for i, w in enumerate(words))
    return ranked[:count]


@pytest.fixture(scope="module")
def dask_client():
    distributed = pytest.importorskip("distributed")
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                  dashboard_address=None) as cluster, \
            distributed.Client(cluster) as client:
        client.upload_file(str(EXAMPLES / "dask_scale_out.py"))
        yield client


# Candidate files and partition counts, including more partitions than lines.
DASK_CASES = [
    (["receive", "recipe", "deceive", "Receiver", "relieve", "sieve", "RECEIVE"], 3),
    (["Straße", "strasse", "STRASSE", "ΣΟΦΙΑ", "σοφια", "𝔘nicode", "İstanbul", "unicode"], 9),
]


@pytest.mark.parametrize("words, partitions", DASK_CASES)
def test_dask_partitions_agree_with_the_reference(tmp_path, dask_client, words, partitions):
    example = load_example("dask_scale_out")
    path = tmp_path / "words.txt"
    path.write_text("\n".join(words) + "\n", encoding="utf-8")
    queries = ["recieve", "strase", "Σοφία", "unicod", ""]
    answer = example.match_on_cluster(dask_client, str(path), queries, 3, partitions)
    assert answer == example.match_single_process(str(path), queries, 3)
    for query, matches in zip(queries, answer):
        expected = reference_best(words, query, 3)
        if query == "":  # an empty query scores the candidate's length as it is
            expected = sorted((len(w), -jaro_winkler_ref("", w), i, w)
                              for i, w in enumerate(words))[:3]
        assert matches == expected


def test_dask_cluster_matches_one_process_on_the_word_list(dask_client):
    example = load_example("dask_scale_out")
    path = str(ROOT / "data" / "words.txt")
    queries = example.misspelt_queries(path, 12)
    answer = example.match_on_cluster(dask_client, path, queries, 3, 5)
    assert answer == example.match_single_process(path, queries, 3)
    assert all(matches[0][0] <= 1 for matches in answer)  # one swap away at most


# The C++ example against the installed core -----------------------------------


def cmake(*args, cwd):
    subprocess.run(["cmake", *map(str, args)], cwd=cwd, check=True,
                   stdout=subprocess.PIPE, stderr=subprocess.STDOUT)


@pytest.mark.skipif(shutil.which("cmake") is None
                    or (shutil.which("c++") is None and shutil.which("g++") is None),
                    reason="needs cmake and a C++ compiler")
def test_cpp_example_builds_against_the_installed_core(tmp_path):
    prefix = tmp_path / "prefix"
    # Unoptimised: this checks what is installed and that it links, and -O0
    # builds the core in a fraction of a Release build's time.
    cmake("-S", ROOT, "-B", tmp_path / "core", "-DQUILLMATCH_BUILD_PYTHON=OFF",
          "-DQUILLMATCH_BUILD_TESTS=OFF", "-DCMAKE_BUILD_TYPE=Debug",
          f"-DCMAKE_INSTALL_PREFIX={prefix}", cwd=tmp_path)
    cmake("--build", tmp_path / "core", "-j2", cwd=tmp_path)
    cmake("--install", tmp_path / "core", cwd=tmp_path)

    headers = sorted(p.name for p in (prefix / "include" / "quillmatch_core").iterdir())
    assert headers == sorted(
        p.name for p in (ROOT / "quillmatch-core" / "include" / "quillmatch_core").iterdir())
    version_file = next(prefix.glob("lib*/cmake/quillmatch_core/quillmatch_coreConfigVersion.cmake"))
    pyproject_version = re.search(r'^version = "([^"]+)"',
                                  (ROOT / "pyproject.toml").read_text(), re.M)[1]
    assert f'set(PACKAGE_VERSION "{pyproject_version}")' in version_file.read_text()

    cmake("-S", EXAMPLES / "cpp", "-B", tmp_path / "app", f"-DCMAKE_PREFIX_PATH={prefix}",
          cwd=tmp_path)
    cmake("--build", tmp_path / "app", cwd=tmp_path)
    query = "kitten"
    candidates = ["sitting", "kitten", "ktiten", "kätten", "k😀tten", "CA", "日本語", "x" * 65]
    output = subprocess.run([tmp_path / "app" / "closest_words", query, *candidates],
                            check=True, capture_output=True, encoding="utf-8").stdout.splitlines()
    order = sorted(range(len(candidates)), key=lambda i: osa_ref(query, candidates[i]))
    assert output == [
        f"{candidates[i]} osa={osa_ref(query, candidates[i])} "
        f"lev={levenshtein_ref(query, candidates[i])} "
        f"jw={jaro_winkler_ref(query, candidates[i]):.6f}" for i in order
    ] + ['max_len=2: InputTooLong { which: "str_1", len: 6, limit: 2 }']
