#!/usr/bin/env python3
"""Prints a workbook's sheets as openpyxl reads them, for tests to compare.

    sheet NAME
    widths A=12.71 C=30.71        (only columns given a width)
    ROW<TAB>CELL<TAB>CELL...      (every row openpyxl reports)

A cell is "s:" + text for a string, "n:" + value for a number, "b:", "d:" for
booleans and dates, and nothing for an empty cell. Text is decoded as Excel
decodes it (_xHHHH_ is one character) and written with backslash, TAB, CR, LF
and other control characters escaped as \\, \\t, \\r, \\n and \\xHH.
Exit code 77 when openpyxl cannot be imported.
"""
import re
import sys

try:
    import openpyxl
except ImportError:
    sys.exit(77)

ESCAPED = re.compile(r"_x([0-9A-Fa-f]{4})_")


def excel_text(text):
    return ESCAPED.sub(lambda m: chr(int(m.group(1), 16)), text)


def shown(text):
    out = []
    for ch in text:
        if ch == "\\":
            out.append("\\\\")
        elif ch == "\t":
            out.append("\\t")
        elif ch == "\r":
            out.append("\\r")
        elif ch == "\n":
            out.append("\\n")
        elif ord(ch) < 0x20 or ord(ch) == 0x7F:
            out.append("\\x%02X" % ord(ch))
        else:
            out.append(ch)
    return "".join(out)


def cell(c):
    if c.value is None:
        return ""
    if c.data_type == "s":
        return "s:" + shown(excel_text(c.value))
    return c.data_type + ":" + shown(str(c.value))


def main(path):
    book = openpyxl.load_workbook(path)
    lines = []
    for sheet in book.worksheets:
        lines.append("sheet " + sheet.title)
        widths = sorted(
            (openpyxl.utils.column_index_from_string(k), k, d.width)
            for k, d in sheet.column_dimensions.items()
            if d.customWidth
        )
        lines.append("widths" + "".join(" %s=%.2f" % (k, w) for _, k, w in widths))
        for row in sheet.iter_rows():
            lines.append("\t".join([str(row[0].row)] + [cell(c) for c in row]))
    sys.stdout.buffer.write(("\n".join(lines) + "\n").encode("utf-8"))


if __name__ == "__main__":
    main(sys.argv[1])
