"""Reads a workbook back with openpyxl and writes what the export tests check, as JSON, to an
answer file: read_xlsx.py WORKBOOK ANSWER."""
import datetime
import json
import os
import re
import sys

import openpyxl
from openpyxl.utils import get_column_letter


def cell(c):
    if c.value is None:
        return None
    if isinstance(c.value, datetime.datetime):
        return {"type": "date", "value": c.value.isoformat(sep=" ")}
    return {"type": "number" if c.data_type == "n" else "text" if c.data_type == "s" else c.data_type,
            "value": c.value}


def fill(c):
    """The solid fill colour of a cell as RRGGBB, or None."""
    if c.fill is None or c.fill.fill_type != "solid" or c.fill.fgColor is None:
        return None
    rgb = c.fill.fgColor.rgb
    return rgb[-6:].upper() if isinstance(rgb, str) else None


def host_path(path):
    """A test built for Windows and run under wine passes its own path, such as C:\\users\\...;
    wine keeps each drive as a link under the prefix's dosdevices folder."""
    drive = re.match(r"^([A-Za-z]:)[\\/](.*)$", path)
    if drive is None or "WINEPREFIX" not in os.environ:
        return path
    rest = drive.group(2).replace("\\", "/")
    return os.path.join(os.environ["WINEPREFIX"], "dosdevices", drive.group(1).lower(), rest)


def main(path, answer):
    wb = openpyxl.load_workbook(host_path(path))
    ws = wb.worksheets[0]
    rows = [[cell(c) for c in row] for row in ws.iter_rows()]
    fills = [[fill(c) for c in row] for row in ws.iter_rows()]
    # The note on each row's first cell (openpyxl reads the legacy comments Excel shows).
    comments = [row[0].comment.text if row and row[0].comment is not None else None
                for row in ws.iter_rows()]
    wrapped = any(c.alignment is not None and c.alignment.wrap_text
                  for row in ws.iter_rows() for c in row)
    widths = {}
    for index in range(1, 12):
        letter = get_column_letter(index)
        dim = ws.column_dimensions.get(letter)
        widths[letter] = dim.width if dim is not None and dim.customWidth else None
    book = {"sheets": len(wb.worksheets), "max_row": ws.max_row, "max_column": ws.max_column,
            "rows": rows, "fills": fills, "comments": comments, "widths": widths, "wrapped": wrapped}
    # The second sheet of readings, when the export has one.
    if "历史" in wb.sheetnames:
        history = wb["历史"]
        book["history"] = [[cell(c) for c in row] for row in history.iter_rows()]
        book["history_formats"] = [c.number_format for c in next(history.iter_rows(min_row=2, max_row=2), [])]
    book["names"] = wb.sheetnames
    if "PON口汇总" in wb.sheetnames:
        book["ports"] = [[cell(c) for c in row] for row in wb["PON口汇总"].iter_rows()]
    text = json.dumps(book, ensure_ascii=True)
    # Written whole, then renamed: the test takes the file as soon as it exists.
    answer = host_path(answer)
    with open(answer + ".part", "w", encoding="ascii") as out:
        out.write(text)
    os.replace(answer + ".part", answer)


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2])
