#!/usr/bin/env bash
# Runs the pelkora command as a user would and checks its output and exit codes.
# Usage: pelkora-command-test.sh PATH/TO/pelkora EXAMPLES-FOLDER
set -u
pelkora=$1
examples=$2
data=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export XDG_CONFIG_HOME=$work/config XDG_STATE_HOME=$work/state XDG_DATA_HOME=$work/data XDG_CACHE_HOME=$work/cache

passed=0
failed=0
check() {  # check NAME EXPECTED ACTUAL
    if [ "$2" == "$3" ]; then
        passed=$((passed + 1))
    else
        failed=$((failed + 1))
        printf 'FAILED: %s\n  expected: %s\n  actual:   %s\n' "$1" "$2" "$3"
        return 1
    fi
}
run() {  # run ARGS...: sets out, err, status
    out=$("$pelkora" "$@" 2>"$work/stderr")
    status=$?
    err=$(cat "$work/stderr")
}
runWithin() {  # runWithin SECONDS ARGS...: as run, but status 124 when it does not end in time
    local seconds=$1
    shift
    out=$(timeout "$seconds" "$pelkora" "$@" 2>"$work/stderr")
    status=$?
    err=$(cat "$work/stderr")
}

run --version
check "version" "pelkora 0.1.0" "$out"

run open "$examples/contacts.csv"
check "csv is text" "$examples/contacts.csv: text" "$out"
check "csv exit" 0 "$status"
check "stdout carries no log lines" 0 "$(grep -c '🔸' <<<"$out")"

printf '\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1' >"$work/legacy.xls"
run open "$work/legacy.xls"
check "legacy workbook exit" 2 "$status"
check "legacy workbook message" "pelkora: $work/legacy.xls: Could not open file. The legacy “Excel 97–2004 Workbook” file format is not supported. Re-save the file as .xlsx, for example with LibreOffice Calc: soffice --convert-to xlsx FILE" "$err"

run open "$work/missing.csv"
check "missing file" "pelkora: $work/missing.csv: no such file" "$err"
check "missing file exit" 2 "$status"

printf 'BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Ada\r\nEND:VCARD\r\n' >"$work/a.vcf"
cp "$work/a.vcf" "$work/b.vcf"
printf 'not a card\n' >"$work/notes.txt"
run open "$work/a.vcf" "$work/notes.txt" "$work/b.vcf"
check "vCard batch" "$work/a.vcf: vCard"$'\n'"$work/b.vcf: vCard" "$out"
check "vCard batch stray file" "pelkora: $work/notes.txt: not a vCard, skipped" "$err"

run --verbose open "$examples/contacts.csv"
check "verbose shows pages" 1 "$(grep -q '^page: Start$' <<<"$err" && echo 1)"
check "verbose echoes the log" 1 "$(grep -q 'Detected file type for contacts.csv: 1' <<<"$err" && echo 1)"

run settings get TrustBOMs
check "default bool" "true" "$out"
run settings set TrustBOMs false
check "set bool exit" 0 "$status"
run settings get TrustBOMs
check "stored bool" "false" "$out"
run settings set TrustBOMs maybe
check "bad bool exit" 2 "$status"
run settings set NumberOfCrashes 12x
check "bad integer exit" 2 "$status"
run settings set TextToNotesTokens "Imported " FILE
run settings get TextToNotesTokens
check "list one item a line" "Imported "$'\n'"FILE" "$out"
run settings list
check "list marks stored values" "TrustBOMs = false" "$(grep '^TrustBOMs' <<<"$out")"
check "list marks defaults" 'ImportMode = "Contacts"  (default)' "$(grep '^ImportMode' <<<"$out")"
run settings reset TrustBOMs
run settings get TrustBOMs
check "reset returns to default" "true" "$out"
run settings get SelectedContainerID
check "absent setting exit" 2 "$status"
run settings get NoSuchKey
check "unknown setting exit" 2 "$status"
run settings set CustomDateFormats x
check "archived list refused" 2 "$status"

run settings get NumberOfLaunches
launches_before=$out
run open "$examples/contacts.csv"
run settings get NumberOfLaunches
check "a command that only reads counts no launch" "$launches_before" "$out"
run settings get MostRecentDocumentFileURL
check "a command that only reads remembers no document" 2 "$status"

run log --path
check "log path" "$XDG_STATE_HOME/pelkora/logs/runtime.log" "$out"
check "log written" 1 "$(grep -q 'Goodbye!' "$XDG_STATE_HOME/pelkora/logs/runtime.log" && echo 1)"

run rows --json "$examples/contacts.csv"
check "rows json header" '{"encoding": "UTF-8", "fieldDelimiter": ",", "lineDelimiter": "\n", "backslashEscapes": false, "invalidBytes": 0, "headerRowIndex": 0, "exampleDataRowIndex": 1, "rowCount": 31}' "$(head -1 <<<"$out")"
check "rows json first data row" 1 "$(sed -n 3p <<<"$out" | grep -cF '{"rowIndex": 2, "empty": false, "cells": [[0, "Anna"], [1, "Müller"],')"
check "rows json line count" 32 "$(wc -l <<<"$out")"
run rows --json --limit 1 "$data/encodings/german.windows-1252.csv"
check "rows legacy encoding" '"windows-1252"' "$(head -1 <<<"$out" | sed 's/.*"encoding": \("[^"]*"\).*/\1/')"
run rows "$data/encodings/german.windows-1252.csv"
check "rows table decodes umlauts" 1 "$(grep -c 'Jürgen' <<<"$out")"
run rows --encoding no-such-encoding "$examples/contacts.csv"
check "unknown encoding exit" 2 "$status"
printf '' >"$work/empty.csv"
run rows "$work/empty.csv"
check "empty file" "pelkora: $work/empty.csv: The file's content could not be read." "$err"
check "empty file exit" 2 "$status"
run rows --delimiter ';' --json "$examples/contacts.csv"
check "chosen delimiter" '";"' "$(head -1 <<<"$out" | sed 's/.*"fieldDelimiter": \("[^"]*"\).*/\1/')"
runWithin 60 rows --delimiter '#' --json "$examples/contacts.csv"
check "hash delimiter exit" 0 "$status"
check "hash delimiter is no comment sign" '"#"' "$(head -1 <<<"$out" | sed 's/.*"fieldDelimiter": \("[^"]*"\).*/\1/')"
runWithin 60 rows --delimiter $'\v' "$examples/contacts.csv"
check "parse that cannot run ends the command" 2 "$status"
check "parse that cannot run shows the alert" 1 "$(grep -c 'Could not parse text file' <<<"$err")"
run encodings
check "encodings start with ASCII" "Western (ASCII)"$'\t'"US-ASCII" "$(head -1 <<<"$out")"
check "encodings separator after seven" "-" "$(sed -n 8p <<<"$out")"

store="$work/book.sqlite"
cat >"$work/people.vcf" <<'VCF'
BEGIN:VCARD
VERSION:3.0
N:Müller;Anna;;;
FN:Anna Müller
ORG:Bäckerei Sonnenschein;Verkauf
TEL;TYPE=CELL:+49 170 1234567
ADR;TYPE=HOME:;;Lindenstraße 12;Dresden;;01067;Germany
BDAY:--03-12
CATEGORIES:Friends,Work
NOTE:Likes bread\, and cake
END:VCARD
BEGIN:VCARD
VERSION:3.0
N:;;;;
FN:ACME Corp
ORG:ACME Corp
X-ABShowAs:COMPANY
CATEGORIES:work
END:VCARD
VCF
run import --store "$store" --no-duplicates --no-note-text "$work/people.vcf"
check "import vCards" "Contacts added:       2 of 2 cards" "$(grep '^Contacts added:' <<<"$out")"
check "import vCards: groups" "Groups created:       3" "$(grep '^Groups created:' <<<"$out")"
run contacts --store "$store" groups
# Groups are created letter for letter; a card joins the first group of its name in any case.
check "groups with member counts" "Friends"$'\t'"1"$'\n'"Work"$'\t'"2"$'\n'"work"$'\t'"0" "$out"
run contacts --store "$store" list
check "list names" "Anna Müller — Bäckerei Sonnenschein — +49 170 1234567"$'\n'"ACME Corp" "$out"
run contacts --store "$store" list --json
check "list json birthday" 1 "$(grep -c '"birthday": "--03-12"' <<<"$out")"
check "list json groups" 1 "$(grep -c '"groups": \["Friends", "Work"\]' <<<"$out")"
check "list json postal code" 1 "$(grep -c '"postalCode": "01067"' <<<"$out")"
run contacts --store "$store" export "$work/export.vcf"
check "export" "Exported 2 contacts to $work/export.vcf" "$out"
check "export keeps groups" 2 "$(grep -c '^CATEGORIES:' "$work/export.vcf")"
run contacts --store "$work/second.sqlite" import-vcf "$work/export.vcf"
check "import-vcf is import" "Contacts added:       2 of 2 cards" "$(grep '^Contacts added:' <<<"$out")"
if /usr/bin/python3 -c 'import vobject' 2>/dev/null; then
    names=$(/usr/bin/python3 -c 'import sys, vobject
print(";".join(c.fn.value for c in vobject.readComponents(open(sys.argv[1], encoding="utf-8").read())))' "$work/export.vcf")
    check "python3-vobject reads the export" "Anna Müller;ACME Corp" "$names"
fi
run contacts --store "$store" --container nope list
check "unknown container exit" 2 "$status"
printf 'not sqlite' >"$work/broken.sqlite"
run contacts --store "$work/broken.sqlite" list
check "broken store exit" 3 "$status"

run catalogue
check "catalogue target" "102"$'\t'"First name"$'\t'"givenName" "$(grep -P '^102\t' <<<"$out")"
check "catalogue full name" "100"$'\t'"Full Name"$'\t'"CustomPropertyKey.FullName" "$(grep -P '^100\t' <<<"$out")"
check "catalogue targets" 54 "$(grep -cP '^1[0-9][0-9]\t' <<<"$out")"
run catalogue --labels phoneNumbers
# iPhone and Apple Watch are read from files but not offered.
check "phone labels" 10 "$(wc -l <<<"$out")"
run vocabulary --lang de --find "E-Mail-Adresse"
check "vocabulary finds German titles" 1 "$(grep -cP '^de\tE-Mail-Adresse\tProperty\tEmail' <<<"$out")"

run settings set DefaultCountryCode at
run settings get DefaultCountryCode
check "country setting" "at" "$out"

run map --json "$examples/contacts.csv"
check "map mobile column" 1 "$(grep -cF '"title": "Mobile", "propertyKey": "phoneNumbers", "propertySubKey": null, "label": "_$!<Mobile>!$_"' <<<"$out")"
check "map postal code column" 1 "$(grep -cF '"propertyKey": "postalAddresses", "propertySubKey": "postalCode"' <<<"$out")"
check "map german titles" 1 "$(grep -cP '^4\tStraße\tStreet\t' <<<"$("$pelkora" map "$data/encodings/german.windows-1252.csv" 2>/dev/null)")"
run map --set "Groups=Nickname" "$examples/contacts.csv"
check "map correction" 1 "$(grep -cP '^13\tGroups\tNickname\t' <<<"$out")"
run map "$examples/contacts.csv"
check "map learns nothing without --learn" 0 "$(grep -cP '^13\tGroups\tNickname\t' <<<"$out")"
run map --learn --set "Groups=Nickname" "$examples/contacts.csv"
run map "$examples/contacts.csv"
check "map learnt correction" 1 "$(grep -cP '^13\tGroups\tNickname\t\tlearnt\t' <<<"$out")"
run vocabulary --custom
check "learnt title listed" 1 "$(grep -cP '^en\tGroups\tProperty\tNickname' <<<"$out")"
run vocabulary --forget "groups"
check "forgetting a title never learnt" 2 "$status"
run vocabulary --forget "Groups"
check "forget a learnt title" "0 forgot 1 learnt title" "$status $err"
run vocabulary --custom
check "forgotten title no longer listed" 0 "$(grep -cP '\tGroups\t' <<<"$out")"
run map "$examples/contacts.csv"
check "forgotten title no longer mapped" 0 "$(grep -cP '^13\tGroups\tNickname\t' <<<"$out")"
run map --learn --set "Groups=nickname" --set "Country=departmentName" "$examples/contacts.csv"
run vocabulary --forget --all
check "forget every learnt title" "0 forgot 2 learnt titles" "$status $err"
run vocabulary --custom
check "nothing learnt left" "" "$out"
run map --preview --row 3 "$examples/contacts.csv"
check "preview of record 3" 1 "$(grep -c '^Zoë Lefèvre$' <<<"$out")"
check "preview birthday" 1 "$(grep -c 'Birthday  *July 1, 1990' <<<"$out")"
run map --set "Nope=phone" "$examples/contacts.csv"
check "unknown column exit" 2 "$status"

# Columns that share a target only one value fits are named; the import keeps the first.
printf 'First Name,Given Name,E-mail\nAnna,Annie,anna@example.org\n' >"$work/two-given.csv"
run map "$work/two-given.csv"
check "map warns about a shared target" "warning: columns 1 “First Name” and 2 “Given Name” both go to First name; the first non-empty value is kept, the other goes into the note" "$(grep '^warning:' <<<"$out")"
run map --json "$work/two-given.csv"
check "map --json names the warning at both columns" 2 "$(grep -cF '"warnings": ["columns 1 “First Name” and 2 “Given Name” both go to' <<<"$out")"
check "map --json: no warning at the e-mail column" 1 "$(grep -F '"title": "E-mail"' <<<"$out" | grep -cF '"warnings": []')"
run import --store "$work/names.sqlite" --json "$work/two-given.csv"
check "import reports the second given name" 1 "$(grep -cF '"column": "Given Name", "value": "Annie", "problem": "target taken by another column"' <<<"$out")"
printf 'Name,Given Name,Family Name\nDr. Anna Berg,Anna,Berg\n' >"$work/full-and-parts.csv"
run map "$work/full-and-parts.csv"
check "full name beside name parts is no given name" 1 "$(grep -cP '^1\tName\tFull Name\t' <<<"$out")"
check "full name beside name parts is named" 1 "$(grep -cF 'warning: column 1 “Name” goes to Full Name and gives only the name parts that columns 2 “Given Name” and 3 “Family Name” leave empty' <<<"$out")"
printf 'Name,E-mail\nDr. Anna Maria van der Berg,anna@example.org\n' >"$work/full-name.csv"
run map "$work/full-name.csv"
check "full name alone: no warning" 0 "$(grep -c '^warning:' <<<"$out")"
run import --store "$work/names.sqlite" --json "$work/full-name.csv"
run contacts --store "$work/names.sqlite" list --json
check "full name divided into its parts" 1 "$(grep -cF '"namePrefix": "Dr.", "givenName": "Anna", "middleName": "Maria", "familyName": "van der Berg"' <<<"$out")"

run dates test --format dd.MM.yyyy 12.05.1979
check "date format test" "1979-05-12" "$(cut -f1 <<<"$out")"
run dates test --format dd.MM.yyyy "not a date"
check "date format test fails" 2 "$status"
run dates add --format "d/M/yy" --locale de
run dates list
check "custom format listed first" "d/M/yy"$'\t'"de"$'\t'"custom" "$(head -1 <<<"$out")"
run dates remove --format "d/M/yy"
run dates remove --format "y-M-d"
check "common formats stay" 2 "$status"

# --- The whole import, in fresh folders (nothing learnt yet) ---
export XDG_CONFIG_HOME=$work/import/config XDG_STATE_HOME=$work/import/state XDG_DATA_HOME=$work/import/data XDG_CACHE_HOME=$work/import/cache
run import --json "$examples/contacts.csv"
check "import exit" 0 "$status"
check "import summary" 1 "$(grep -cF '"rows": 30, "contactsAdded": 30, "contactsAssembled": 30, "emptyRowsSkipped": 0, "groupsCreated": 5,' <<<"$out")"
run settings get MostRecentDocumentFileURL
check "an import remembers the document" "file://$examples/contacts.csv" "$out"
run contacts list --json
anna=$(grep -F '"fullName": "Anna Müller"' <<<"$out")
check "import name" 1 "$(grep -cF '"givenName": "Anna", "familyName": "Müller", "organizationName": "Bäckerei Sonnenschein", "jobTitle": "Master Baker"' <<<"$anna")"
check "import birthday ISO" 1 "$(grep -cF '"birthday": "1984-03-12"' <<<"$anna")"
check "import birthday dotted" 1 "$(grep -F '"fullName": "Jörg Weiß"' <<<"$out" | grep -cF '"birthday": "1979-05-12"')"
check "import extracted labels" 1 "$(grep -cF '"phoneNumbers": [{"label": "_$!<Mobile>!$_", "value": "+49 170 1234567"}, {"label": "_$!<Work>!$_", "value": "+49 351 4711 0"}, {"label": "_$!<Home>!$_", "value": "+49 351 815 22"}]' <<<"$anna")"
check "import postal code regains its zero" 1 "$(grep -cF '"postalCode": "01067"' <<<"$anna")"
check "import note and notes text" 1 "$(grep -cP '"note": "Prefers calls before 10\\nImport# .*contacts\.csv \)"' <<<"$anna")"
check "import split groups" 1 "$(grep -F '"fullName": "Günther Schäfer"' <<<"$out" | grep -cF '"groups": ["Customers", "Work"]')"
run import --json --no-note-text "$examples/contacts.csv"
check "second import finds duplicates" 1 "$(grep -cF '"oldDuplicates": 30, "newDuplicates": 30' <<<"$out")"
run import --dry-run --json "$examples/contacts.csv"
check "dry run reports" 1 "$(grep -cF '"contactsAdded": 0, "contactsAssembled": 30' <<<"$out")"
check "dry run saves nothing" 60 "$("$pelkora" contacts list | wc -l)"
printf 'Ada,Lovelace\nAlan,Turing\n' >"$work/untitled.csv"
run import --store "$work/untitled.sqlite" --no-header --json "$work/untitled.csv"
check "without titles every row is imported" 1 "$(grep -cF '"rows": 2, "contactsAdded": 2' <<<"$out")"
run export-vcard --no-header -o "$work/untitled.vcf" "$work/untitled.csv"
check "without titles every row is exported" 2 "$(grep -c '^BEGIN:VCARD' "$work/untitled.vcf")"
printf 'First Name,Last Name,Birthday\nAda,Berg,soon\nBo,Berg,1990-01-02\n' >"$work/odd-dates.csv"
run import --store "$work/strict.sqlite" --strict --json "$work/odd-dates.csv"
check "strict exit" 2 "$status"
check "strict lists the value" 1 "$(grep -cF '"warnings": [{"row": 2, "column": "Birthday", "value": "soon", "problem": "not a date"}]' <<<"$out")"
check "strict saves nothing" 0 "$("$pelkora" contacts --store "$work/strict.sqlite" list 2>/dev/null | wc -l)"
run import --store "$work/strict.sqlite" "$work/odd-dates.csv"
check "warnings counted" 1 "$(grep -cF 'Not taken as it stood: 1 value was not a date and went into the note' <<<"$out")"
check "a value that is no date goes into the note" 1 "$("$pelkora" contacts --store "$work/strict.sqlite" list --json | grep -F '"givenName": "Ada"' | grep -cF 'soon')"
printf 'BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Ada\r\nEND:VCARD\r\n' >"$work/card.txt"
run open "$work/card.txt"
check "a vCard saved as .txt is a vCard" "$work/card.txt: vCard" "$out"
cp "$examples/contacts.csv" "$work/contacts-export"
run import --store "$work/nameless.sqlite" --json "$work/contacts-export"
check "a CSV without extension is text" 1 "$(grep -cF '"contactsAdded": 30' <<<"$out")"
run open --as text "$work/card.txt"
check "--as text overrides" "$work/card.txt: text" "$out"
run import --container NOPE "$examples/contacts.csv"
check "unknown container exit" 2 "$status"

run export-vcard -o "$work/all.vcf" "$examples/contacts.csv"
check "export group exit" 0 "$status"
check "export group read by vobject" 30 "$(/usr/bin/python3 -c 'import sys, vobject; print(sum(1 for _ in vobject.readComponents(open(sys.argv[1], encoding="utf-8"))))' "$work/all.vcf")"
check "export holds one NOTE per note" 1 "$(awk '/^FN:Anna Müller/,/^END:VCARD/' "$work/all.vcf" | grep -c '^NOTE')"
mkdir -p "$work/cards"
run export-vcard --individual "$work/cards" "$examples/contacts.csv"
run export-vcard --individual "$work/cards" "$examples/contacts.csv"
check "export individual files, never overwritten" 60 "$(ls "$work/cards" | wc -l)"
check "export individual numbering" 1 "$(ls "$work/cards" | grep -cx 'Anna Müller 2.vcf')"
run export-vcard "$examples/contacts.csv"
check "export needs a destination" 2 "$status"

# A workbook saved by LibreOffice: two sheets, dates, numeric postal codes, a photo.
run sheets "$examples/contacts.xlsx"
check "sheets listed" "1"$'\t'"Overview"$'\n'"2"$'\t'"People" "$out"
run import --store "$work/workbook.sqlite" "$examples/contacts.xlsx"
check "several sheets need --sheet" 2 "$status"
check "several sheets are named" "pelkora: $examples/contacts.xlsx: the workbook has several sheets; choose one with --sheet NAME|ID: 1 “Overview”, 2 “People”" "$err"
run import --store "$work/workbook.sqlite" --json --sheet People "$examples/contacts.xlsx"
check "workbook import" 1 "$(grep -cF '"rows": 4, "contactsAdded": 4' <<<"$out")"
run contacts --store "$work/workbook.sqlite" list --json
anna=$(grep -F '"fullName": "Anna Müller"' <<<"$out")
check "workbook date cell" 1 "$(grep -cF '"birthday": "1984-03-12"' <<<"$anna")"
check "workbook numeric postal code" 1 "$(grep -cF '"postalCode": "01067"' <<<"$anna")"
check "workbook picture" 1 "$(grep -cP '"imageBytes": [1-9]' <<<"$anna")"
# Workbooks damaged in their shared strings or cell references.
run rows "$data/xlsx/shared-strings-unreadable.xlsx"
check "unreadable shared strings exit" 2 "$status"
check "unreadable shared strings message" 1 "$(grep -c 'it is damaged' <<<"$err")"
run rows --json "$data/xlsx/shared-strings-cut-off.xlsx"
check "cut-off shared strings exit" 0 "$status"
check "cut-off shared strings: no marker text" 0 "$(grep -c 'EXCEL ERROR' <<<"$out")"
check "cut-off shared strings: names empty" 3 "$(grep -c '"cells": \[\[0, null\], \[1, null\], \[2, "' <<<"$out")"
runWithin 20 rows --quiet "$data/xlsx/cells-beyond-last-column.xlsx"
check "cells beyond XFD exit" 0 "$status"
check "cells beyond XFD: columns A to E" "   | A          | B            | C" "$(sed -n 6p <<<"$out" | cut -c1-34)"
check "cells beyond XFD: no line wider than the five columns" 0 "$(awk 'length > 200' <<<"$out" | wc -l | tr -d ' ')"
runWithin 20 rows --quiet "$data/xlsx/lone-cell-at-xfd1.xlsx"
check "lone cell at XFD1 exit" 0 "$status"
check "lone cell at XFD1: one column" $'  | XFD\n0 | Zoë' "$(tail -n 2 <<<"$out" | sed 's/ *$//')"

run rows --sheet 2 --json "$examples/contacts.xlsx"
check "rows of a sheet by number" 1 "$(head -1 <<<"$out" | grep -cF '"sheet": "People"')"

run map "$work/a.vcf"
check "map of a vCard file points to import and scan" "pelkora: $work/a.vcf: a vCard file has no rows or columns; “pelkora import” reads it into the address book, and “pelkora scan” shows the cards and groups it holds" "$err"

# vCards: what import and scan refuse, and why.
run import --store "$work/mixed.sqlite" "$work/a.vcf" "$examples/contacts.csv"
check "vCards and a table: exit" 2 "$status"
check "vCards and a table: both named" "pelkora: import: $work/a.vcf is a vCard file and $examples/contacts.csv is a table; import them separately" "$err"
run import --store "$work/mixed.sqlite" "$examples/contacts.csv" "$work/a.vcf"
check "a table then vCards: exit" 2 "$status"
run import --store "$work/mixed.sqlite" "$examples/contacts.csv" "$examples/contacts.xlsx"
check "two tables: exit" 2 "$status"
check "two tables: said" "pelkora: import: tables are imported one at a time, and $examples/contacts.csv and $examples/contacts.xlsx are both tables (vCard files can go together)" "$err"
check "nothing was imported" 1 "$([ ! -e "$work/mixed.sqlite" ] && echo 1)"
run import --store "$work/mixed.sqlite" --set "A=givenName" --no-header "$work/a.vcf"
check "column options with vCards: exit" 2 "$status"
check "column options with vCards: said" "pelkora: import: column options (--set, --no-header) do not apply to vCard files, whose cards name their own fields ($work/a.vcf)" "$err"
run import "$work/a.vcf" "$work/missing.vcf"
check "missing vCard file: exit" 2 "$status"
check "missing vCard file: said" "pelkora: $work/missing.vcf: no such file" "$err"
mkdir "$work/no-cards"
printf 'not a card\n' >"$work/no-cards/readme.txt"
run import "$work/no-cards"
check "folder without .vcf files: exit" 2 "$status"
check "folder without .vcf files: said" "pelkora: import: $work/no-cards: the folder holds no .vcf file" "$err"
run scan "$examples/contacts.csv"
check "scan of a table: exit" 2 "$status"
: >"$work/empty.vcf"
run scan --json "$work/empty.vcf"
check "scan of an empty file: exit" 2 "$status"
check "scan of an empty file: said" "pelkora: scan: No vCards were found in the chosen files." "$err"
check "scan of an empty file: the file is named" 1 "$(grep -cF "\"filesSkipped\": [{\"file\": \"$work/empty.vcf\"" <<<"$out")"
run import --store "$work/empty.sqlite" "$work/empty.vcf"
check "import of an empty file: exit" 2 "$status"
check "import of an empty file: said" 1 "$(grep -c "^pelkora: import: no vCard was found in $work/empty.vcf" <<<"$err")"
# Read as vCards, text without any card is one card that cannot be read: nothing goes unseen.
run import --as vcard --store "$work/notes.sqlite" "$work/notes.txt"
check "--as vcard of text without a card: exit" 0 "$status"
check "--as vcard of text without a card: skipped" "Cards skipped:        1 not readable as a vCard (notes.txt card 1)" "$(grep '^Cards skipped:' <<<"$out")"
# A scan changes no setting: only the launch count that every command keeps moves on.
settings_before=$("$pelkora" settings list 2>/dev/null | grep -v '^NumberOfLaunches')
run scan "$work/a.vcf" "$work/b.vcf"
check "scan of two files" "$work/a.vcf: 1 card"$'\n'"$work/b.vcf: 1 card" "$(head -2 <<<"$out")"
check "scan found" "2 contacts found" "$(tail -1 <<<"$out")"
check "scan writes no setting" "$settings_before" "$("$pelkora" settings list 2>/dev/null | grep -v '^NumberOfLaunches')"
run import --store "$work/dry.sqlite" --dry-run "$work/a.vcf" "$work/b.vcf"
check "vCard dry run" "Dry run: nothing was saved. The import would have done this:" "$(head -1 <<<"$out")"
check "vCard dry run saves nothing" "" "$("$pelkora" contacts --store "$work/dry.sqlite" list 2>/dev/null)"
printf 'BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Broken\r\nno colon here\r\nEND:VCARD\r\n' >"$work/broken.vcf"
run import --store "$work/vcard-strict.sqlite" --strict --json "$work/a.vcf" "$work/broken.vcf"
check "vCard strict with an unreadable card: exit" 2 "$status"
check "vCard strict: said" "pelkora: import: --strict: 1 card would not go in as it stands; nothing was saved" "$err"
check "vCard strict saves nothing" "" "$("$pelkora" contacts --store "$work/vcard-strict.sqlite" list 2>/dev/null)"

# A killed or interrupted import leaves whole chunks of 500 and a readable address book.
/usr/bin/python3 - "$work/big.csv" <<'PY'
import sys
with open(sys.argv[1], "w", encoding="utf-8") as f:
    f.write("First Name,Last Name,E-mail,Groups\n")
    for i in range(120000):
        f.write(f"Person{i},Näme{i % 977},p{i}@example.org,Group{i % 7}\n")
PY
count_contacts() { "$pelkora" contacts --store "$1" list 2>/dev/null | wc -l; }
# The group memberships saved so far: a quick look while an import runs (listing the contacts
# would follow the import as it adds them; every row here joins a group).
count_members() { "$pelkora" contacts --store "$1" groups 2>/dev/null | awk -F'\t' '{n += $2} END {print n + 0}'; }
interrupt_import() {  # interrupt_import SIGNAL STORE [FILE]: starts an import, signals it once contacts exist
    "$pelkora" import --store "$2" --no-duplicates "${3:-$work/big.csv}" >"$work/interrupted.out" 2>&1 &
    local pid=$! waited=0
    while [ "$(count_members "$2")" -eq 0 ] && kill -0 "$pid" 2>/dev/null && [ $waited -lt 600 ]; do
        sleep 0.1; waited=$((waited + 1))
    done
    kill -"$1" "$pid" 2>/dev/null
    wait "$pid"
    echo $?
}
killed_status=$(interrupt_import KILL "$work/killed.sqlite")
killed=$(count_contacts "$work/killed.sqlite")
check "kill -9 leaves whole chunks" 0 "$((killed % 500))"
check "kill -9 interrupted the import" 1 "$([ "$killed" -gt 0 ] && [ "$killed" -lt 120000 ] && echo 1)"
interrupted_status=$(interrupt_import INT "$work/interrupted.sqlite")
interrupted=$(count_contacts "$work/interrupted.sqlite")
check "Ctrl-C interrupted the import" 1 "$([ "$interrupted" -gt 0 ] && [ "$interrupted" -lt 120000 ] && echo 1)"
check "Ctrl-C exit" 1 "$interrupted_status"
check "Ctrl-C leaves whole chunks" 0 "$((interrupted % 500))"
check "Ctrl-C says so" 1 "$(grep -c '^Cancelled: ' "$work/interrupted.out")" || tr '\r' '\n' <"$work/interrupted.out" | tail -5
# The same for vCards.
/usr/bin/python3 - "$work/big.vcf" <<'PY'
import sys
with open(sys.argv[1], "w", encoding="utf-8", newline="") as f:
    for i in range(30000):
        f.write(f"BEGIN:VCARD\r\nVERSION:3.0\r\nN:Näme{i % 977};Person{i};;;\r\nFN:Person{i} Näme{i % 977}\r\n"
                f"EMAIL:p{i}@example.org\r\nCATEGORIES:Group{i % 7}\r\nEND:VCARD\r\n")
PY
interrupted_status=$(interrupt_import INT "$work/interrupted-vcards.sqlite" "$work/big.vcf")
interrupted=$(count_contacts "$work/interrupted-vcards.sqlite")
check "Ctrl-C interrupted the vCard import" 1 "$([ "$interrupted" -gt 0 ] && [ "$interrupted" -lt 30000 ] && echo 1)"
check "Ctrl-C vCard exit" 1 "$interrupted_status"
check "Ctrl-C leaves whole chunks of cards" 0 "$((interrupted % 500))"
check "Ctrl-C says so for vCards" 1 "$(grep -c '^Cancelled: .* chunks of 500 cards were saved' "$work/interrupted.out")" || tr '\r' '\n' <"$work/interrupted.out" | tail -5
# On a terminal the scan's and the import's progress show.
if command -v script >/dev/null; then
    script -qc "'$pelkora' import --store '$work/tty.sqlite' '$work/a.vcf'" /dev/null >"$work/tty.out" 2>&1
    check "terminal: the scan's progress" 1 "$(grep -q 'Reading vCards…' "$work/tty.out" && echo 1)"
    check "terminal: the import's progress" 1 "$(grep -q 'Importing records into the address book…' "$work/tty.out" && echo 1)"
fi

# Dates as the file means them, whatever the user's locale; none invented.
export LC_ALL=C
run dates test --format dd/MM/yyyy 31/02/2000
check "impossible day is no date" 2 "$status"
check "impossible day says so" "pelkora: dates: “31/02/2000” is not a date in the format “dd/MM/yyyy” (locale en): Parsing Failed" "$err"
run dates test --format dd.MM. 21.06.
check "day without a year" "--06-21" "$(cut -f1 <<<"$out")"
run import --store "$work/dates.sqlite" --json "$data/exports/fr-date-de-naissance.csv"
check "impossible day is a warning" 1 "$(grep -cF '"column": "Date de naissance", "value": "31/02/2000", "problem": "not a date"' <<<"$out")"
run import --store "$work/dates.sqlite" --json "$data/exports/de-geburtstag.csv"
run import --store "$work/dates.sqlite" --json "$data/exports/outlook-birthday-anniversary.csv"
check "outlook no-date is no warning" 1 "$(grep -cF '"warnings": []' <<<"$out")"
run contacts --store "$work/dates.sqlite" list --json
check "french file is day first" 1 "$(grep -F '"fullName": "Camille Durand"' <<<"$out" | grep -cF '"birthday": "1975-04-03"')"
check "birthday without a year" 1 "$(grep -F '"fullName": "Anke Vogel"' <<<"$out" | grep -cF '"birthday": "--06-21"')"
check "outlook no-date gives no birthday" 0 "$(grep -F '"fullName": "Ann Baker"' <<<"$out" | grep -c '"birthday"\|"dates"')"
check "outlook birthday is month first" 1 "$(grep -F '"fullName": "Gus Hale"' <<<"$out" | grep -cF '"birthday": "1971-02-03"')"
unset LC_ALL

run frobnicate
check "unknown command exit" 2 "$status"

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
