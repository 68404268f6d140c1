"""Reads a workbook back with openpyxl and prints what the export tests check, as JSON."""
import json
import sys

import openpyxl
from openpyxl.utils import get_column_letter


def cell(c):
    if c.value is None:
        return None
    return {"type": "number" if c.data_type == "n" else "text" if c.data_type == "s" else c.data_type,
            "value": c.value}


def fill(c):
    """The solid fill colour of a cell as RRGGBB, or None."""
    if c.fill is None or c.fill.fill_type != "solid" or c.fill.fgColor is None:
        return None
    rgb = c.fill.fgColor.rgb
    return rgb[-6:].upper() if isinstance(rgb, str) else None


def main(path):
    wb = openpyxl.load_workbook(path)
    ws = wb.worksheets[0]
    rows = [[cell(c) for c in row] for row in ws.iter_rows()]
    fills = [[fill(c) for c in row] for row in ws.iter_rows()]
    wrapped = any(c.alignment is not None and c.alignment.wrap_text
                  for row in ws.iter_rows() for c in row)
    widths = {}
    for index in range(1, 12):
        letter = get_column_letter(index)
        dim = ws.column_dimensions.get(letter)
        widths[letter] = dim.width if dim is not None and dim.customWidth else None
    print(json.dumps({"sheets": len(wb.worksheets), "max_row": ws.max_row, "max_column": ws.max_column,
                      "rows": rows, "fills": fills, "widths": widths, "wrapped": wrapped}, ensure_ascii=True))


if __name__ == "__main__":
    main(sys.argv[1])
