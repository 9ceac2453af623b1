#!/usr/bin/env python3
"""Writes src/charset/code_page_data.cpp: the upper halves (bytes 80-FF) of the code tables of
ESC t that Pellory keeps as data, because the C library has no converter for them or has one
that differs from the printers' table.

Each table comes from one source, named in the file it writes:
    PC853 (12)       tools/code_page_charts/pc853.txt, the public chart typed in
    PC857 (13)       Python's cp857 codec, with the euro sign at D5 as the printers place it
    TCVN-3 (30, 31)  the C library's TCVN5712-1 converter, through the iconv program: 30 keeps the
                     characters of the TCVN-3 table (the small letters, the seven capitals without
                     tone marks, the no-break space), 31 has the capital of each small letter
    PC720 (32)       Python's cp720 codec (its C1 control positions are bytes without a character)
    PC1098 (41)      tools/code_page_charts/pc1098.txt, the public chart typed in
    PC1118 (42)      the C library's CP774 converter (the same table), through the iconv program
    PC1119 (43)      the C library's CP772 converter (the same table), through the iconv program
    PC1125 (44)      Python's cp1125 codec

The tests (tests/charset/test_code_page_data.cpp) hold every byte of every table against the
C library's converter where it has one (CP857, TCVN5712-1, CP774, CP772, CP1125), and against the
checked-in charts of tools/code_page_charts/ otherwise (PC853, PC720, PC1098). Run it from anywhere:

    python3 tools/make_code_page_data.py            # (re)write the file
    python3 tools/make_code_page_data.py --check    # exit 1 if the committed file differs
    python3 tools/make_code_page_data.py --charts   # (re)write the charts of the generated tables
"""

import codecs
import os
import subprocess
import sys
import unicodedata

ROOT = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
OUTPUT = os.path.join(ROOT, "src", "charset", "code_page_data.cpp")
CHARTS = os.path.join(ROOT, "tools", "code_page_charts")

NONE = None  # a byte without a character


def python_codec(name):
    """The upper half as Python's codec reads it; C1 control positions have no character."""
    decoder = codecs.lookup(name)
    table = []
    for b in range(0x80, 0x100):
        try:
            c = ord(decoder.decode(bytes([b]))[0])
        except UnicodeDecodeError:
            c = NONE
        if c is not NONE and 0x80 <= c <= 0x9F:
            c = NONE
        table.append(c)
    return table


def iconv_converter(name):
    """The upper half as the C library's converter reads it, one byte at a time."""
    table = []
    for b in range(0x80, 0x100):
        r = subprocess.run(["iconv", "-f", name, "-t", "UTF-32BE"], input=bytes([b]), capture_output=True)
        ok = r.returncode == 0 and len(r.stdout) == 4
        table.append(int.from_bytes(r.stdout, "big") if ok else NONE)
    return table


def chart(name):
    """A chart of tools/code_page_charts/: 8 rows of 16 cells, "--" for none, SHY and NBSP."""
    names = {"--": NONE, "SHY": 0x00AD, "NBSP": 0x00A0}
    table = []
    with open(os.path.join(CHARTS, name), encoding="utf-8") as f:
        for line in f:
            if line.startswith("#") or not line.strip():
                continue
            cells = line.split()[1:]
            if len(cells) != 16:
                sys.exit(f"{name}: a row of {len(cells)} cells: {line.strip()}")
            for cell in cells:
                if cell in names:
                    table.append(names[cell])
                elif len(cell) == 1:
                    table.append(ord(cell))
                else:
                    sys.exit(f"{name}: not one character: {cell}")
    if len(table) != 128:
        sys.exit(f"{name}: {len(table)} cells, not 128")
    return table


def pc857():
    table = python_codec("cp857")
    table[0xD5 - 0x80] = 0x20AC
    return table


def tcvn3():
    """TCVN-3: of TCVN 5712, A0-AE and the small letters; capitals with tone marks and the
    combining marks belong to the larger tables only."""
    full = iconv_converter("TCVN5712-1")
    table = []
    for b, c in zip(range(0x80, 0x100), full):
        keep = c is not NONE and (0xA0 <= b <= 0xAE or unicodedata.category(chr(c)) == "Ll")
        table.append(c if keep else NONE)
    return table


def tcvn3_capitals():
    table = []
    for c in tcvn3():
        if c is NONE or unicodedata.category(chr(c)) != "Ll":
            table.append(c)
        else:
            upper = chr(c).upper()
            table.append(ord(upper) if len(upper) == 1 else NONE)
    return table


# The tables in the order written: the C++ name, the CodeTable enumerator, the comment, the source.
TABLES = [
    ("kPC853", "PC853", "PC853 (Turkish): the chart tools/code_page_charts/pc853.txt", lambda: chart("pc853.txt"),
     "pc853.txt"),
    ("kPC857", "PC857", "PC857 (Turkish) with the euro sign at D5: Python's cp857 codec, D5 added", pc857,
     "pc857.txt"),
    ("kTcvn3", "Tcvn3", "TCVN-3 (Vietnamese): the C library's TCVN5712-1, the TCVN-3 characters", tcvn3,
     "tcvn3.txt"),
    ("kTcvn3Capitals", "Tcvn3Capitals", "TCVN-3 (Vietnamese) capitals: the capital of each small letter of 30",
     tcvn3_capitals, "tcvn3-capitals.txt"),
    ("kPC720", "PC720", "PC720 (Arabic): Python's cp720 codec", lambda: python_codec("cp720"), "pc720.txt"),
    ("kPC1098", "PC1098", "PC1098 (Farsi): the chart tools/code_page_charts/pc1098.txt", lambda: chart("pc1098.txt"),
     "pc1098.txt"),
    ("kPC1118", "PC1118", "PC1118 (Lithuanian): the C library's CP774", lambda: iconv_converter("CP774"),
     "pc1118.txt"),
    ("kPC1119", "PC1119", "PC1119 (Lithuanian, with Cyrillic): the C library's CP772",
     lambda: iconv_converter("CP772"), "pc1119.txt"),
    ("kPC1125", "PC1125", "PC1125 (Ukrainian): Python's cp1125 codec", lambda: python_codec("cp1125"), "pc1125.txt"),
]

# The charts that are sources themselves (typed in from the public charts); --charts leaves them be.
SOURCE_CHARTS = {"pc853.txt", "pc1098.txt"}


def cell(c):
    return "kNone" if c is NONE else f"0x{c:04X}"


def render():
    out = []
    out.append("// The upper halves of the code tables kept as data. Written by tools/make_code_page_data.py")
    out.append("// (run it again rather than editing this file); each table's source is named above it.")
    out.append('#include "charset/code_page_data.h"')
    out.append("")
    out.append("namespace pellory::charset {")
    out.append("")
    out.append("namespace {")
    out.append("")
    out.append("constexpr char32_t kNone = kNoCharacter;")
    out.append("")
    out.append("// clang-format off")
    for name, _, comment, source, _ in TABLES:
        table = source()
        if len(table) != 128:
            sys.exit(f"{name}: {len(table)} entries")
        out.append(f"// {comment}.")
        out.append(f"constexpr UpperHalf {name} = {{")
        for row in range(16):
            cells = ", ".join(cell(c) for c in table[row * 8:row * 8 + 8])
            out.append(f"    {cells},  // {0x80 + row * 8:02X}")
        out.append("};")
    out.append("")
    out.append("}  // namespace")
    out.append("")
    out.append("const UpperHalf* UpperHalfData(CodeTable table) {")
    out.append("    switch (table) {")
    for name, enumerator, _, _, _ in TABLES:
        out.append(f"        case CodeTable::{enumerator}: return &{name};")
    out.append("        default: return nullptr;")
    out.append("    }")
    out.append("}")
    out.append("// clang-format on")
    out.append("")
    out.append("}  // namespace pellory::charset")
    return "\n".join(out) + "\n"


def chart_cell(c):
    if c is NONE:
        return "--"
    return {0x00AD: "SHY", 0x00A0: "NBSP"}.get(c, chr(c))


def write_charts():
    """Writes the chart of each table whose source is a codec or a converter, for the tests to
    hold the compiled table to and for a reader to compare with the public chart by eye."""
    for _, _, comment, source, name in TABLES:
        if name in SOURCE_CHARTS:
            continue
        table = source()
        lines = [f"# {comment}.",
                 "# Bytes 80-FF, a row of 16 characters for each high nibble, \"--\" where the table has no",
                 "# character, SHY and NBSP for the soft hyphen and the no-break space. Written by",
                 "# tools/make_code_page_data.py --charts from the table's source; the tests hold the compiled",
                 "# table to it."]
        for row in range(8):
            lines.append(f"{8 + row:X}x: " + " ".join(chart_cell(c) for c in table[row * 16:row * 16 + 16]))
        with open(os.path.join(CHARTS, name), "w", encoding="utf-8") as f:
            f.write("\n".join(lines) + "\n")


def main():
    if "--charts" in sys.argv[1:]:
        write_charts()
        return 0
    text = render()
    if "--check" in sys.argv[1:]:
        with open(OUTPUT, encoding="utf-8") as f:
            if f.read() != text:
                print(f"{OUTPUT} differs from what {sys.argv[0]} writes", file=sys.stderr)
                return 1
        return 0
    with open(OUTPUT, "w", encoding="utf-8") as f:
        f.write(text)
    return 0


if __name__ == "__main__":
    sys.exit(main())
