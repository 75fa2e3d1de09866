#!/usr/bin/env python3
"""Generates the case tables of the matching core from the Unicode Character Database.

Reads UnicodeData.txt, SpecialCasing.txt and DerivedCoreProperties.txt of UCD
version UCD_VERSION (refusing files of any other version) and writes

  quillmatch-core/src/unicode_tables.h    declarations and layout constants of the tables
  quillmatch-core/src/unicode_tables.cpp  the compressed tables
  quillmatch-core/tests/unicode_lowercase_expected.inc
                                          every code point that lower-cases to something
                                          else, and the Cased and Case_Ignorable ranges,
                                          for the whole-code-space test

The data is the default full lower-case mapping (toLowercase: unconditional
SpecialCasing.txt entries override the simple mapping of UnicodeData.txt;
conditional and language-specific entries are left out, and Final_Sigma is
done in code) and the Cased and Case_Ignorable properties.

Per code point the tables hold the id of a small record (flags and a delta or
an offset into an expansion list), looked up in three stages: the code point's
top bits pick a block of stage 2, its middle bits an entry there, which names
a block of stage 3, and its low bits the record id in that block. Equal blocks
are stored once; the two block sizes are whichever make the tables smallest.
The output is data only: the lookup that decodes it is hand-written, in
quillmatch-core/src/unicode_lookup.h, and reads the layout constants and
record bits from the generated header.

Moving to another Unicode version: set UCD_VERSION, point --ucd at that
version's files and regenerate; the checks below say where the new data
breaks an assumption of the lower-caser.

Usage: python3 tools/gen_unicode_tables.py [--ucd DIR] [--out DIR] [--check]
--check regenerates in memory and exits 1 when the committed files differ.
Uses the standard library only.
"""

import argparse
import pathlib
import re
import sys

# The version of the UCD files the committed tables come from (Debian's
# unicode-data package 15.0.0 installs them in /usr/share/unicode).
UCD_VERSION = "15.0.0"

MAX_CP = 0x10FFFF
CODE_SPACE = MAX_CP + 1
SURROGATES = range(0xD800, 0xE000)
CAPITAL_SIGMA, SMALL_SIGMA, FINAL_SIGMA = 0x03A3, 0x03C3, 0x03C2

# Record bits; the generated header names them for the C++ side.
CASED, CASE_IGNORABLE, EXPANDS = 1, 2, 4
PAYLOAD_SHIFT = 3
PAYLOAD_LIMIT = 1 << (31 - PAYLOAD_SHIFT)

# The test keeps expected mappings in fixed arrays of this length.
MAX_EXPANSION = 3

ROOT = pathlib.Path(__file__).resolve().parent.parent
HEADER_PATH = "quillmatch-core/src/unicode_tables.h"
SOURCE_PATH = "quillmatch-core/src/unicode_tables.cpp"
EXPECTED_PATH = "quillmatch-core/tests/unicode_lowercase_expected.inc"
COMMAND = "python3 tools/gen_unicode_tables.py"


class GeneratorError(Exception):
    pass


def fail(message):
    raise GeneratorError(message)


def data_lines(path):
    """Yields (line number, fields) of the data lines of a UCD file, comments removed."""
    with open(path, encoding="utf-8") as f:
        for number, line in enumerate(f, 1):
            line = line.split("#", 1)[0].strip()
            if line:
                yield number, [field.strip() for field in line.split(";")]


def header_version(path):
    """Returns the version from a first line such as '# SpecialCasing-15.0.0.txt'."""
    with open(path, encoding="utf-8") as f:
        first = f.readline()
    match = re.match(r"#\s*\w+-(\d+\.\d+\.\d+)\.txt\s*$", first)
    if not match:
        fail(f"{path}: no version in its first line {first.strip()!r}")
    return match.group(1)


def code_points(text):
    return [int(item, 16) for item in text.split()]


def read_unicode_data(path):
    """Returns (simple lower-case mapping, general category per code point)."""
    simple_lower = {}
    category = {}
    range_start = None
    for number, fields in data_lines(path):
        if len(fields) != 15:
            fail(f"{path}:{number}: expected 15 fields, found {len(fields)}")
        cp = int(fields[0], 16)
        name, gc, lower = fields[1], fields[2], fields[13]
        if name.endswith(", First>"):
            range_start = cp
            continue
        if name.endswith(", Last>"):
            if range_start is None:
                fail(f"{path}:{number}: range end without a start")
            for member in range(range_start, cp + 1):
                category[member] = gc
            range_start = None
        else:
            category[cp] = gc
        if lower:
            simple_lower[cp] = int(lower, 16)
    return simple_lower, category


def read_special_lower(path):
    """Returns (unconditional full lower-case mappings, conditional entries)."""
    unconditional = {}
    conditional = []
    for number, fields in data_lines(path):
        # code; lower; title; upper; [conditions;] -- the line ends with ';'.
        if len(fields) not in (5, 6) or fields[-1]:
            fail(f"{path}:{number}: unexpected layout {fields}")
        cp = int(fields[0], 16)
        lower = code_points(fields[1])
        conditions = fields[4] if len(fields) == 6 else ""
        if conditions:
            conditional.append((cp, lower, conditions))
        elif cp in unconditional:
            fail(f"{path}:{number}: second unconditional entry for U+{cp:04X}")
        else:
            unconditional[cp] = lower
    return unconditional, conditional


def read_properties(path, names):
    """Returns {name: set of code points} for the named derived properties."""
    found = {name: set() for name in names}
    for number, fields in data_lines(path):
        if len(fields) != 2:
            fail(f"{path}:{number}: unexpected layout {fields}")
        if fields[1] not in found:
            continue
        first, _, last = fields[0].partition("..")
        found[fields[1]].update(range(int(first, 16), int(last or first, 16) + 1))
    for name, members in found.items():
        if not members:
            fail(f"{path}: property {name} not found")
    return found


class CaseData:
    """The parsed and cross-checked source data."""

    def __init__(self, ucd):
        ucd = pathlib.Path(ucd)
        files = [ucd / "UnicodeData.txt", ucd / "SpecialCasing.txt",
                 ucd / "DerivedCoreProperties.txt"]
        for path in files:
            if not path.is_file():
                fail(f"{path}: not found (Debian installs it with the unicode-data package)")
        self.version = self.read_version(files)
        simple_lower, self.category = read_unicode_data(files[0])
        special, self.conditional = read_special_lower(files[1])
        props = read_properties(files[2], ["Cased", "Case_Ignorable", "Changes_When_Lowercased"])
        self.cased = props["Cased"]
        self.case_ignorable = props["Case_Ignorable"]
        self.changes_when_lowercased = props["Changes_When_Lowercased"]
        self.decomposition = read_decompositions(files[0])

        # Full mapping: SpecialCasing's unconditional entries win over the simple ones.
        self.lower = {cp: [target] for cp, target in simple_lower.items() if target != cp}
        for cp, mapping in special.items():
            if mapping == [cp]:
                self.lower.pop(cp, None)
            else:
                self.lower[cp] = mapping
        self.check()

    @staticmethod
    def read_version(files):
        # UnicodeData.txt has no header; check() ties it to the others through
        # properties that DerivedCoreProperties.txt derives from it.
        versions = {path.name: header_version(path) for path in files[1:]}
        if len(set(versions.values())) != 1:
            fail(f"UCD files of different versions: {versions}")
        version = next(iter(versions.values()))
        if version != UCD_VERSION:
            fail(f"{files[0].parent} holds UCD version {version}, but the tables are pinned to "
                 f"{UCD_VERSION}: pass --ucd with the {UCD_VERSION} files, or set UCD_VERSION "
                 f"in {pathlib.Path(__file__).name} to {version} to move the tables to it")
        return version

    def full_lower(self, cp):
        return self.lower.get(cp, [cp])

    def check(self):
        self.check_mappings()
        self.check_sigma()
        self.check_against_unicode_data()

    def check_mappings(self):
        for cp, mapping in self.lower.items():
            if not 1 <= len(mapping) <= MAX_EXPANSION:
                fail(f"U+{cp:04X}: lower-case mapping of {len(mapping)} code points")
            for target in mapping:
                if target > MAX_CP or target in SURROGATES:
                    fail(f"U+{cp:04X}: maps to U+{target:04X}, not a scalar value")
        # The lower-caser turns ASCII letters to lower case by arithmetic alone.
        for cp in range(0x80):
            expected = cp + 0x20 if 0x41 <= cp <= 0x5A else cp
            if self.full_lower(cp) != [expected]:
                fail(f"U+{cp:04X}: ASCII mapping is not the plain letter shift")

    def check_sigma(self):
        # The lower-caser implements exactly this one condition in code.
        sigma_rules = [entry for entry in self.conditional if "Final_Sigma" in entry[2].split()]
        if sigma_rules != [(CAPITAL_SIGMA, [FINAL_SIGMA], "Final_Sigma")]:
            fail(f"Final_Sigma entries are not the single rule for U+03A3: {sigma_rules}")
        if self.full_lower(CAPITAL_SIGMA) != [SMALL_SIGMA]:
            fail("U+03A3 does not lower-case to U+03C3 out of context")
        if CAPITAL_SIGMA not in self.cased or CAPITAL_SIGMA in self.case_ignorable:
            fail("U+03A3 must be Cased and not Case_Ignorable")

    def check_against_unicode_data(self):
        """Compares DerivedCoreProperties.txt with what it derives from the other files.

        This catches files of different versions and parsing errors alike.
        """
        gc = self.category
        for name, members in (("Cased", self.cased), ("Case_Ignorable", self.case_ignorable)):
            unassigned = sorted(cp for cp in members if cp not in gc)
            if unassigned:
                fail(f"{name} holds code points absent from UnicodeData.txt: "
                     f"U+{unassigned[0]:04X} and {len(unassigned) - 1} more")
        for cp, category in gc.items():
            if category in ("Lu", "Ll", "Lt") and cp not in self.cased:
                fail(f"U+{cp:04X} ({category}) is not Cased")
            if category in ("Mn", "Me", "Cf", "Lm", "Sk") and cp not in self.case_ignorable:
                fail(f"U+{cp:04X} ({category}) is not Case_Ignorable")
        # Changes_When_Lowercased(X) is toLowercase(NFD(X)) != NFD(X).
        for cp in range(CODE_SPACE):
            nfd = self.nfd(cp)
            lowered = [target for part in nfd for target in self.full_lower(part)]
            if (lowered != nfd) != (cp in self.changes_when_lowercased):
                fail(f"U+{cp:04X}: mapping disagrees with Changes_When_Lowercased")

    def nfd(self, cp):
        parts = self.decomposition.get(cp)
        if parts is None:
            return [cp]
        return [leaf for part in parts for leaf in self.nfd(part)]


def read_decompositions(path):
    """Returns the canonical decompositions of UnicodeData.txt (Hangul left out: uncased)."""
    decompositions = {}
    for _, fields in data_lines(path):
        if fields[5] and not fields[5].startswith("<"):
            decompositions[int(fields[0], 16)] = code_points(fields[5])
    return decompositions


class Tables:
    """The three-stage tables and the record list, built and verified."""

    def __init__(self, data):
        self.expansions = []
        record_ids = {0: 0}  # record 0: uncased, not ignorable, maps to itself
        per_cp = [record_ids.setdefault(self.make_record(data, cp), len(record_ids))
                  for cp in range(CODE_SPACE)]
        self.records = list(record_ids)
        candidates = []
        for low in range(3, 9):
            middle_blocks, stage3 = split(per_cp, low)
            for mid in range(2, 9):
                stage1, stage2 = split(middle_blocks, mid)
                candidates.append((low, mid, stage1, stage2, stage3))
        (self.low_shift, self.mid_shift, self.stage1, self.stage2, self.stage3) = min(
            candidates, key=lambda c: sum(array_bytes(stage) for stage in c[2:]))
        self.verify(data)

    def make_record(self, data, cp):
        flags = (CASED if cp in data.cased else 0) | (
            CASE_IGNORABLE if cp in data.case_ignorable else 0)
        mapping = data.full_lower(cp)
        if len(mapping) == 1:
            payload = mapping[0] - cp
        else:
            flags |= EXPANDS
            payload = self.expansion_offset(mapping)
        if not -PAYLOAD_LIMIT <= payload < PAYLOAD_LIMIT:
            fail(f"U+{cp:04X}: record payload {payload} does not fit")
        return payload * (1 << PAYLOAD_SHIFT) | flags

    def expansion_offset(self, mapping):
        entry = [len(mapping)] + mapping
        for offset in range(len(self.expansions)):
            if self.expansions[offset:offset + len(entry)] == entry:
                return offset
        self.expansions.extend(entry)
        return len(self.expansions) - len(entry)

    def lookup(self, cp):
        """Decodes a code point through the tables as case_record() in unicode_lookup.h does."""
        low, mid = self.low_shift, self.mid_shift
        middle = self.stage1[cp >> (low + mid)]
        lower = self.stage2[(middle << mid) | ((cp >> low) & ((1 << mid) - 1))]
        record = self.records[self.stage3[(lower << low) | (cp & ((1 << low) - 1))]]
        flags, payload = record & 7, record >> PAYLOAD_SHIFT
        if flags & EXPANDS:
            length = self.expansions[payload]
            mapping = self.expansions[payload + 1:payload + 1 + length]
        else:
            mapping = [cp + payload]
        return bool(flags & CASED), bool(flags & CASE_IGNORABLE), mapping

    def verify(self, data):
        if self.records[0] != 0:
            fail("record 0 is not the plain uncased identity")
        if max(self.stage1 + self.stage2 + self.stage3) > 0xFFFF:
            fail("table indices do not fit 16 bits")
        for cp in range(CODE_SPACE):
            expected = (cp in data.cased, cp in data.case_ignorable, data.full_lower(cp))
            if self.lookup(cp) != expected:
                fail(f"U+{cp:04X}: tables give {self.lookup(cp)}, source data {expected}")

    def size(self):
        return (array_bytes(self.stage1) + array_bytes(self.stage2) + array_bytes(self.stage3)
                + 4 * (len(self.records) + len(self.expansions)))


def split(values, shift):
    """Splits values into blocks of 2**shift and merges equal blocks.

    Returns (block number per block of values, the distinct blocks concatenated).
    """
    size = 1 << shift
    numbers = {}
    index = [numbers.setdefault(tuple(values[start:start + size]), len(numbers))
             for start in range(0, len(values), size)]
    return index, [value for block in numbers for value in block]


def index_type(values):
    return ("std::uint8_t", 1) if max(values) <= 0xFF else ("std::uint16_t", 2)


def array_bytes(values):
    return len(values) * index_type(values)[1]


def wrap(items, indent="    ", width=100):
    """Joins items with ', ' into lines of at most `width` columns."""
    lines, line = [], indent
    for item in items:
        piece = item + ","
        if len(line) + len(piece) + 1 > width and line.strip():
            lines.append(line.rstrip())
            line = indent
        line += piece + " "
    if line.strip():
        lines.append(line.rstrip())
    return "\n".join(lines)


def ranges(members):
    """Returns the sorted inclusive ranges of a set of code points."""
    result = []
    for cp in sorted(members):
        if result and result[-1][1] == cp - 1:
            result[-1][1] = cp
        else:
            result.append([cp, cp])
    return result


def preamble(data, tables):
    expanding = sum(1 for mapping in data.lower.values() if len(mapping) > 1)
    stats = (f"{len(data.lower)} mappings ({expanding} expanding), {len(data.cased)} Cased, "
             f"{len(data.case_ignorable)} Case_Ignorable; {len(tables.records)} records, "
             f"stages of {len(tables.stage1)}, {len(tables.stage2)} and {len(tables.stage3)} "
             f"entries; "
             f"{tables.size()} table bytes.")
    return (f"// generated by tools/gen_unicode_tables.py, from UCD version {data.version}; "
            f"do not edit.\n// Regenerate from the repository root: {COMMAND}\n// {stats}\n")


def render_header(data, tables):
    stages = [("kCaseStage1", tables.stage1, "stage-2 block number"),
              ("kCaseStage2", tables.stage2, "stage-3 block number, blocks concatenated"),
              ("kCaseStage3", tables.stage3, "index into kCaseRecords, blocks concatenated")]
    declarations = "".join(
        f"extern const {index_type(values)[0]} {name}[{len(values)}];  // {what}\n"
        for name, values, what in stages)
    return preamble(data, tables) + f"""//
// Case data of every code point for full lower-casing: the Cased and
// Case_Ignorable properties and the default lower-case mapping (language
// tailoring and context left out; the lower-caser handles Final_Sigma).
// Data only: case_record() in unicode_lookup.h decodes it.
#ifndef QUILLMATCH_CORE_SRC_UNICODE_TABLES_H_
#define QUILLMATCH_CORE_SRC_UNICODE_TABLES_H_

#include <cstdint>
#include <string_view>

namespace quillmatch_core::detail {{

// The Unicode version of the data below.
inline constexpr std::string_view kUnicodeVersion = "{data.version}";

// A code point splits into top bits (index into stage 1), kCaseMidShift middle
// bits and kCaseLowShift low bits (offsets into a block of stage 2 and 3).
inline constexpr unsigned kCaseLowShift = {tables.low_shift};
inline constexpr unsigned kCaseMidShift = {tables.mid_shift};
inline constexpr char32_t kCaseMaxCodePoint = 0x{MAX_CP:X};

// A record of kCaseRecords: flag bits, then from bit kCasePayloadShift up
// (signed) the lower case minus the code point, or for a mapping of several
// code points the offset of its length in kLowerExpansions, which its code
// points follow. Record 0 is an uncased character that maps to itself.
inline constexpr std::int32_t kCaseCasedBit = {CASED};
inline constexpr std::int32_t kCaseIgnorableBit = {CASE_IGNORABLE};
inline constexpr std::int32_t kCaseExpandsBit = {EXPANDS};
inline constexpr unsigned kCasePayloadShift = {PAYLOAD_SHIFT};

{declarations}extern const std::int32_t kCaseRecords[{len(tables.records)}];
extern const char32_t kLowerExpansions[{len(tables.expansions)}];

}}  // namespace quillmatch_core::detail

#endif  // QUILLMATCH_CORE_SRC_UNICODE_TABLES_H_
"""


def render_source(data, tables):
    def array(element, name, values, fmt=str):
        return f"const {element} {name}[{len(values)}] = {{\n{wrap(fmt(v) for v in values)}\n}};\n"

    stages = [("kCaseStage1", tables.stage1), ("kCaseStage2", tables.stage2),
              ("kCaseStage3", tables.stage3)]
    return (preamble(data, tables) + '#include "unicode_tables.h"\n\n'
            "namespace quillmatch_core::detail {\n\n"
            + "\n".join(array(index_type(values)[0], name, values) for name, values in stages)
            + "\n" + array("std::int32_t", "kCaseRecords", tables.records) + "\n"
            + array("char32_t", "kLowerExpansions", tables.expansions, lambda v: f"0x{v:04X}")
            + "\n}  // namespace quillmatch_core::detail\n")


def render_expected(data, tables):
    def hex_list(values):
        return ", ".join(f"0x{v:04X}" for v in values)

    mappings = "\n".join(f"    {{0x{cp:04X}, {{{hex_list(data.lower[cp])}}}}},"
                         for cp in sorted(data.lower))

    def range_array(name, members):
        items = (f"{{0x{first:04X}, 0x{last:04X}}}" for first, last in ranges(members))
        return f"inline constexpr CodePointRange {name}[] = {{\n{wrap(items)}\n}};\n"

    return (preamble(data, tables)
            + "//\n// Expected data for the whole-code-space test, taken from the source files\n"
            "// directly (not through the compressed tables). Needs ExpectedLowercase\n"
            "// {char32_t cp; std::array<char32_t, " + str(MAX_EXPANSION) + "> lower;} and "
            "CodePointRange {char32_t first, last;}.\n\n"
            "// Every code point whose full lower-case mapping is not itself.\n"
            f"inline constexpr ExpectedLowercase kExpectedLowercase[] = {{\n{mappings}\n}};\n\n"
            "// Cased code points, inclusive ranges.\n"
            + range_array("kExpectedCased", data.cased) + "\n"
            "// Case_Ignorable code points, inclusive ranges.\n"
            + range_array("kExpectedCaseIgnorable", data.case_ignorable))


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.split("\n", 1)[0])
    parser.add_argument("--ucd", default="/usr/share/unicode",
                        help="directory of the UCD files (default: %(default)s)")
    parser.add_argument("--out", default=str(ROOT),
                        help="repository root to write into (default: this script's repository)")
    parser.add_argument("--check", action="store_true",
                        help="exit 1 when the files in --out differ from a fresh generation")
    args = parser.parse_args(argv)
    try:
        data = CaseData(args.ucd)
        tables = Tables(data)
    except GeneratorError as error:
        print(f"gen_unicode_tables.py: error: {error}", file=sys.stderr)
        return 2
    outputs = {
        HEADER_PATH: render_header(data, tables),
        SOURCE_PATH: render_source(data, tables),
        EXPECTED_PATH: render_expected(data, tables),
    }
    out = pathlib.Path(args.out)
    if args.check:
        stale = [name for name, text in outputs.items()
                 if not (out / name).is_file() or (out / name).read_text(encoding="utf-8") != text]
        for name in stale:
            print(f"gen_unicode_tables.py: {name} is out of date; run {COMMAND}", file=sys.stderr)
        return 1 if stale else 0
    for name, text in outputs.items():
        (out / name).parent.mkdir(parents=True, exist_ok=True)
        (out / name).write_text(text, encoding="utf-8")
    print(preamble(data, tables).splitlines()[-1][3:])
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
