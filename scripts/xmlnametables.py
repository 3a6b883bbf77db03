#!/usr/bin/env python3
"""Regenerates the XML name character tables of qt5/qsettingsext/xmlnamecodec.cpp.

    scripts/xmlnametables.py           rewrites the two tables in place
    scripts/xmlnametables.py --check   exits 1 when the file differs from what it would write

The tables hold the characters above U+007F that XML 1.0 (fourth edition,
Appendix B: BaseChar, Ideographic, CombiningChar, Digit, Extender) allows in
names, the set that Qt's QXmlStreamReader enforces. They are taken from expat
(Python's pyexpat), which applies the same set: every BMP code unit outside the
surrogates is tried as the first character of an element name and as a later
one.
"""
import pathlib
import sys
import xml.parsers.expat

SOURCE = pathlib.Path(__file__).resolve().parent.parent / "qt5/qsettingsext/xmlnamecodec.cpp"
PER_LINE = 5


def accepted(name):
    parser = xml.parsers.expat.ParserCreate("UTF-8")
    try:
        parser.Parse(("<%s/>" % name).encode("utf-8", "surrogatepass"), True)
        return True
    except xml.parsers.expat.ExpatError:
        return False


def ranges(codes):
    result = []
    for code in codes:
        if result and result[-1][1] == code - 1:
            result[-1][1] = code
        else:
            result.append([code, code])
    return result


def table(name, comment, codes):
    entries = ["{0x%04X, 0x%04X}" % (first, last) for first, last in ranges(codes)]
    lines = [", ".join(entries[i:i + PER_LINE]) for i in range(0, len(entries), PER_LINE)]
    body = ",\n    ".join(lines)
    return "%s\nconst CharRange %s[] = {\n    %s\n};\n" % (comment, name, body)


def main():
    units = [c for c in range(0x80, 0x10000) if not 0xD800 <= c <= 0xDFFF]
    start = [c for c in units if accepted(chr(c))]
    rest = [c for c in units if c not in set(start) and accepted("a" + chr(c))]
    generated = (table("NameStartRanges", "// Name start characters above U+007F.", start) + "\n"
                 + table("NameRestRanges",
                         "// Further name characters above U+007F (digits, combining marks, extenders).",
                         rest))

    text = SOURCE.read_text(encoding="utf-8")
    begin = text.index("// Name start characters above U+007F.")
    end = text.index("};\n", text.index("const CharRange NameRestRanges[]")) + len("};\n")
    updated = text[:begin] + generated + text[end:]
    if "--check" in sys.argv[1:]:
        return 0 if updated == text else 1
    SOURCE.write_text(updated, encoding="utf-8")
    return 0


if __name__ == "__main__":
    sys.exit(main())
