#!/usr/bin/python3
"""What the two vCard exports write, read back by python3-vobject and by pelkora itself, and
what they refuse to write over.

`pelkora export-vcard` writes a table's rows, `pelkora contacts export` the address book; both
must escape commas, semicolons, backslashes and line breaks in text values (readers cut a note
at an unescaped comma) and add nothing to a note. The output file is never an input file and
replaces an existing file only with --force, a symbolic link there included (the link is
replaced, not written through).

A workbook whose picture is cut short exports every contact, the picture left out, and says
so with exit 1 (partly done).

Usage: vcard-export-test.py PATH/TO/pelkora NOTES.csv WORKBOOK.xlsx
"""
import json
import os
import shutil
import subprocess
import sys
import tempfile
import zipfile

try:
    import vobject
except ImportError:
    print("python3-vobject is not installed")
    sys.exit(77)

pelkora, table, workbook = sys.argv[1], sys.argv[2], sys.argv[3]
work = tempfile.mkdtemp(prefix="pelkora-vcard-export-")
env = dict(os.environ)
for name in ("XDG_CONFIG_HOME", "XDG_STATE_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME"):
    env[name] = os.path.join(work, name.lower())
failures = []

# The notes of notes.csv, as the user wrote them.
NOTES = {
    "Nora Lindqvist": "Met at the fair in Malmö, 2023; prefers e-mail",
    "Piet de Vries": "Share: \\\\fileserver\\contacts\\piet; ask first",
    "Ilse Maurer": "Call after 6 pm.\nAddress changed, see below:\nHauptstr. 4; 3rd floor",
    "Ravi Menon": "Plain note without anything special",
}


def check(what, expected, actual):
    if expected != actual:
        failures.append(f"{what}\n  expected: {expected!r}\n  actual:   {actual!r}")


def run(*arguments):
    return subprocess.run([pelkora, *arguments], env=env, capture_output=True, text=True)


def read(path):
    with open(path, encoding="utf-8") as stream:
        return stream.read()


def vobject_notes(path):
    cards = vobject.readComponents(read(path))
    return {card.fn.value: card.note.value for card in cards if hasattr(card, "note")}


# export-vcard: every note comes back whole from another program's reader.
source = os.path.join(work, "notes.csv")
shutil.copyfile(table, source)
group = os.path.join(work, "group.vcf")
result = run("export-vcard", "-o", group, source)
check(f"export-vcard exit ({result.stderr.strip()})", 0, result.returncode)
check("export-vcard notes read by python3-vobject", NOTES, vobject_notes(group))
check("the company with a comma", "Lindqvist, Berg & Co.",
      next(c for c in vobject.readComponents(read(group))
           if c.fn.value == "Nora Lindqvist").org.value[0])

# Round trip through pelkora's own reader, then contacts export, read by python3-vobject.
store = os.path.join(work, "book.sqlite")
result = run("import", "--no-note-text", "--store", store, group)
check(f"import of the export ({result.stderr.strip()})", 0, result.returncode)
listed = json.loads(run("contacts", "--store", store, "list", "--json").stdout)
check("notes read back by pelkora", NOTES,
      {contact["fullName"]: contact.get("note", "") for contact in listed})
book = os.path.join(work, "book.vcf")
result = run("contacts", "--store", store, "export", book)
check(f"contacts export exit ({result.stderr.strip()})", 0, result.returncode)
check("contacts export notes read by python3-vobject", NOTES, vobject_notes(book))
check("one writer: both exports write the same NOTE lines",
      sorted(line for line in read(group).splitlines() if line.startswith("NOTE")),
      sorted(line for line in read(book).splitlines() if line.startswith("NOTE")))

# What the commands refuse to write over: exit 2, a message naming the file, nothing changed.
original = read(source)
hard_link = os.path.join(work, "hard-link.csv")
os.link(source, hard_link)
link_to_input = os.path.join(work, "link-to-input.vcf")
os.symlink(source, link_to_input)
refusals = [
    ("the input itself", ["export-vcard", "-o", source, source], source),
    ("the input by another name", ["export-vcard", "--force", "-o",
                                   os.path.join(work, ".", "notes.csv"), source], "notes.csv"),
    ("a hard link to the input", ["export-vcard", "--force", "-o", hard_link, source], hard_link),
    ("a symbolic link to the input", ["export-vcard", "-o", link_to_input, "--force", source],
     link_to_input),
    ("an existing file without --force", ["export-vcard", "-o", group, source], group),
    ("contacts export over an existing file", ["contacts", "--store", store, "export", book],
     book),
    ("contacts export over the address book",
     ["contacts", "--store", store, "--force", "export", store], store),
]
before = {path: read(path) for path in (group, book)}
for name, arguments, named in refusals:
    result = run(*arguments)
    check(f"{name}: exit", 2, result.returncode)
    check(f"{name}: the message names the file", True, named in result.stderr)
    check(f"{name}: --force is offered", "existing" in name, "--force" in result.stderr)
check("the input is untouched", original, read(source))
check("existing outputs are untouched", before, {path: read(path) for path in before})
check("no file was left behind", sorted(["notes.csv", "hard-link.csv", "link-to-input.vcf",
                                         "group.vcf", "book.sqlite", "book.vcf"]),
      sorted(name for name in os.listdir(work)
             if not name.startswith("xdg") and not name.startswith("book.sqlite-")))

# With --force an existing file is replaced, and a symbolic link is replaced by the file
# rather than written through.
elsewhere = os.path.join(work, "elsewhere.txt")
with open(elsewhere, "w", encoding="utf-8") as stream:
    stream.write("someone else's file\n")
link = os.path.join(work, "link.vcf")
os.symlink(elsewhere, link)
for arguments in (["export-vcard", "--force", "-o", group, source],
                  ["export-vcard", "-o", link, "--force", source],
                  ["contacts", "--store", store, "--force", "export", book]):
    result = run(*arguments)
    check(f"{' '.join(arguments[:3])}: exit ({result.stderr.strip()})", 0, result.returncode)
check("--force replaces the file", NOTES, vobject_notes(group))
check("--force replaces the book's export", NOTES, vobject_notes(book))
check("the link became the file", (False, NOTES), (os.path.islink(link), vobject_notes(link)))
check("the link's target is untouched", "someone else's file\n", read(elsewhere))

# A picture the export cannot write costs the picture, not its contact.
broken = os.path.join(work, "broken-picture.xlsx")
with zipfile.ZipFile(workbook) as original_book, zipfile.ZipFile(broken, "w") as broken_book:
    for name in original_book.namelist():
        data = original_book.read(name)
        broken_book.writestr(name, data[: len(data) // 2] if "/media/" in name else data)
pictureless = os.path.join(work, "pictureless.vcf")
result = run("export-vcard", "--sheet", "People", "-o", pictureless, broken)
check("a left-out picture makes the export partly done", 1, result.returncode)
check("the summary says what was left out", True,
      "1 picture could not be written; its contact was saved without it" in result.stderr)
cards = list(vobject.readComponents(read(pictureless)))
check("every contact is written, without the picture", (4, False),
      (len(cards), any(hasattr(card, "photo") for card in cards)))
result = run("export-vcard", "--sheet", "People", "-o",
             os.path.join(work, "with-picture.vcf"), workbook)
check(f"the whole workbook exports ({result.stderr.strip()})", 0, result.returncode)

shutil.rmtree(work)
for failure in failures:
    print("FAILED:", failure)
print(f"vcard exports: {len(failures)} failed")
sys.exit(1 if failures else 0)
