"""Writes the rows of a UTF-8 TSV file with openpyxl's write-only mode, typed as the product types
them; prints wall seconds, CPU seconds, peak RSS before and after writing (KiB)."""
import re
import resource
import sys
import time

from openpyxl import Workbook
from openpyxl.utils import get_column_letter

WIDTHS = [10, 20, 15, 15, 15, 15, 15, 15, 10, 15, 30]
PLAIN = re.compile(r"-?(0|[1-9][0-9]*)(\.[0-9]+)?\Z")


def typed(index, text):
    if not text:
        return None
    if 2 <= index <= 5 and PLAIN.match(text) and sum(ch.isdigit() for ch in text) <= 15:
        return float(text)
    return text


def usage():
    u = resource.getrusage(resource.RUSAGE_SELF)
    return u.ru_utime + u.ru_stime, u.ru_maxrss


def main(source, target):
    with open(source, encoding="utf-8") as f:
        lines = f.read().split("\n")
    headers = lines[0].split("\t")
    rows = [line.split("\t") for line in lines[1:] if line]
    cpu_before, peak_before = usage()
    start = time.perf_counter()
    wb = Workbook(write_only=True)
    ws = wb.create_sheet()
    for index, width in enumerate(WIDTHS):
        ws.column_dimensions[get_column_letter(index + 1)].width = width
    ws.append(headers)
    for row in rows:
        ws.append([typed(i, v) for i, v in enumerate(row)])
    wb.save(target)
    wall = time.perf_counter() - start
    cpu_after, peak_after = usage()
    print(wall, cpu_after - cpu_before, peak_before, peak_after)


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2])
