"""Prints an .xlsx file as plain lines, read with openpyxl (a reader this project did not
write): per sheet "SHEET name|frozen cell|filter range", then one line per row with its cells
separated by U+001F, each as "s:" + text for a string, "?:" + repr for anything else, "" when
empty."""
import sys

import openpyxl

book = openpyxl.load_workbook(sys.argv[1])
out = []
for ws in book.worksheets:
    out.append("SHEET %s|%s|%s" % (ws.title, ws.freeze_panes, ws.auto_filter.ref))
    for row in ws.iter_rows():
        cells = []
        for c in row:
            if c.value is None:
                cells.append("")
            elif isinstance(c.value, str):
                cells.append("s:" + c.value)
            else:
                cells.append("?:" + repr(c.value))
        out.append("\x1f".join(cells))
    widths = [ws.column_dimensions[openpyxl.utils.get_column_letter(i)].width for i in range(1, 10)]
    out.append("WIDTHS " + " ".join("%d" % w for w in widths))
sys.stdout.write("\n".join(out) + "\n")
