#!/usr/bin/env bash
# Makes examples/contacts.xlsx: a workbook saved by LibreOffice with two sheets, "Overview"
# (a note, no contacts) and "People" (the contacts: real date cells, postal codes stored as
# numbers that lost their leading zero, and a photo placed over a cell of one row).
#
# The sheets are written with python3-openpyxl, then opened and saved again by LibreOffice
# (libreoffice-calc-nogui), so the file is what a LibreOffice user would hand us.
# Usage: scripts/make-example-workbook.sh   (from the repository's top folder)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

/usr/bin/python3 - "$work/contacts.xlsx" <<'PY'
import datetime, io, sys
from openpyxl import Workbook
from openpyxl.drawing.image import Image
from PIL import Image as Picture, ImageDraw

book = Workbook()
overview = book.active
overview.title = "Overview"
overview["A1"] = "Contacts of the Dresden office, exported for the new address book."
people = book.create_sheet("People")
people.append(["First Name", "Last Name", "Company", "E-mail", "Mobile", "Street",
               "Postal Code", "City", "Country", "Birthday", "Groups", "Photo"])
rows = [
    ("Anna", "Müller", "Bäckerei Sonnenschein", "anna.mueller@example.de", "+49 170 1234567",
     "Lindenstraße 12", 1067, "Dresden", "Germany", datetime.date(1984, 3, 12), "Friends"),
    ("Jörg", "Weiß", "Weiß & Söhne GmbH", "j.weiss@example.de", "+49 151 2345678",
     "Hauptstraße 5", 80331, "München", "Germany", datetime.date(1979, 5, 12), "Work"),
    ("Ines", "Grünewald", None, "ines.gruenewald@example.de", "+49 172 3344556",
     "Karl-Liebknecht-Str. 9", 4107, "Leipzig", "Germany", datetime.date(1987, 6, 30), "Family"),
    ("Sophie", "Schröder", None, "sophie.schroeder@example.de", "+49 170 9990001",
     "Schloßstraße 3", 1307, "Dresden", "Germany", datetime.date(1991, 7, 21), "Family, Friends"),
]
for row in rows:
    people.append(list(row))
for row in range(2, len(rows) + 2):
    people.cell(row=row, column=10).number_format = "DD.MM.YYYY"

# A small portrait over the Photo cell of Anna's row.
portrait = Picture.new("RGB", (48, 64), (236, 208, 180))
draw = ImageDraw.Draw(portrait)
draw.ellipse((8, 6, 40, 40), fill=(120, 80, 50))
draw.rectangle((6, 44, 42, 64), fill=(40, 90, 160))
data = io.BytesIO()
portrait.save(data, format="PNG")
data.seek(0)
image = Image(data)
image.anchor = "L2"
people.add_image(image)
book.save(sys.argv[1])
PY

mkdir -p "$work/saved"
soffice --headless -env:UserInstallation="file://$work/profile" \
    --convert-to xlsx:"Calc MS Excel 2007 XML" --outdir "$work/saved" "$work/contacts.xlsx" >/dev/null
cp "$work/saved/contacts.xlsx" "$top/examples/contacts.xlsx"
echo "wrote examples/contacts.xlsx"
