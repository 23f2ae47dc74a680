#!/usr/bin/env bash
# Makes the LibreOffice-saved workbooks under tests/data/xlsx from CSV files written here, so
# the workbook reader's tests read files of a second writer besides libxlsxwriter:
#
#   libreoffice-contacts.xlsx  a header row, names with accents and quotes, a formula-free
#                              date column (LibreOffice recognises the ISO dates and stores
#                              them as date-formatted numbers), numbers and an empty row;
#   libreoffice-sparse.xlsx    a title row with one cell, then a header row and data with
#                              empty cells in between.
#
# The expected contents are in tests/input/ExcelReaderTest.cpp. Needs soffice (Debian's
# libreoffice-calc-nogui). Usage: scripts/make-test-workbooks.sh
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
out="$root/tests/data/xlsx"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

cat >"$work/libreoffice-contacts.csv" <<'CSV'
First Name,Last Name,Birthday,Score,Note
Zoë,"O'Brien ""Jr""",1980-03-12,12.5,"one, two"
Jürgen,Müller,2001-12-31,-7,

Ann,Lee,1999-01-02,3,last
CSV
cat >"$work/libreoffice-sparse.csv" <<'CSV'
Club members
Name,,Phone
Bob,,555-0100
,Carol,
CSV

mkdir -p "$out"
for name in libreoffice-contacts libreoffice-sparse; do
    # The filter options: comma separated, double quote, UTF-8 (76), first line 1, and
    # "detect special numbers" on so that the ISO dates become dates.
    soffice --headless -env:UserInstallation="file://$work/profile" \
        --infilter="CSV:44,34,76,1,,0,false,true,true" \
        --convert-to xlsx --outdir "$work" "$work/$name.csv" >/dev/null
    cp "$work/$name.xlsx" "$out/$name.xlsx"
done
echo "wrote $(ls "$out" | grep -c '^libreoffice-') workbooks to $out"
