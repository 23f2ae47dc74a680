#!/usr/bin/python3
# Writes the damaged workbooks of this folder from libreoffice-contacts.xlsx by editing its
# parts with zipfile. Run it here: /usr/bin/python3 make-damaged-workbooks.py
import re
import zipfile

SOURCE = "libreoffice-contacts.xlsx"
SHARED = "xl/sharedStrings.xml"
SHEET = "xl/worksheets/sheet1.xml"


def rewrite(target, edits):
    with zipfile.ZipFile(SOURCE) as source, zipfile.ZipFile(target, "w", zipfile.ZIP_DEFLATED) as out:
        for item in source.infolist():
            data = source.read(item.filename)
            if item.filename in edits:
                data = edits[item.filename](data.decode("utf-8")).encode("utf-8")
            out.writestr(item, data)


def cut_after_items(count):
    # Ends the part inside the string after the first `count` items, as a copy broken off
    # part-way would.
    def edit(xml):
        end = 0
        for _ in range(count):
            end = xml.index("</si>", end) + len("</si>")
        return xml[:end] + '<si><t xml:space="preserve">J'
    return edit


# The shared strings break inside the first string: not one string can be read.
rewrite("shared-strings-unreadable.xlsx", {SHARED: cut_after_items(0)})
# The shared strings break after the first row's five titles: the names are lost.
rewrite("shared-strings-cut-off.xlsx", {SHARED: cut_after_items(5)})
# Cells beyond XFD1048576: a column far past XFD and a column of eight letters.
rewrite("cells-beyond-last-column.xlsx", {SHEET: lambda xml: xml.replace(
    '<c r="E1" s="0" t="s"><v>4</v></c>',
    '<c r="E1" s="0" t="s"><v>4</v></c><c r="ZZZZZ1" t="s"><v>4</v></c>').replace(
    '<c r="D3" s="0" t="n"><v>-7</v></c>',
    '<c r="D3" s="0" t="n"><v>-7</v></c><c r="MWLQKWU3" t="s"><v>7</v></c>')})
# One cell in the last column of the first row, nothing else.
rewrite("lone-cell-at-xfd1.xlsx", {SHEET: lambda xml: re.sub(
    r"<sheetData>.*</sheetData>",
    '<sheetData><row r="1"><c r="XFD1" t="s"><v>5</v></c></row></sheetData>',
    re.sub(r'<dimension ref="[^"]*"/>', '<dimension ref="XFD1"/>', xml))})
