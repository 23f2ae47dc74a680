#!/usr/bin/python3
"""Imports vCard files as their producers write them (tests/data/vcards-import, and cards that
python3-vobject writes here) with `pelkora import`, and reads the address book back with
`pelkora contacts list --json` and through `pelkora contacts export` with python3-vobject:
every card, its labels, dates, groups and note (with its own file's name), the cards that
cannot be read, a UID two cards share, the duplicates of a second import, a folder taken in
name order, and `pelkora scan --json`.

Usage: vcard-import-test.py PATH/TO/pelkora FIXTURES-FOLDER
"""
import json
import os
import shutil
import sys

from command_checks import CommandChecks

try:
    import vobject
except ImportError:
    print("skipped: python3-vobject is not installed (scripts/install-deps --tests installs it)")
    sys.exit(77)

checks = CommandChecks(sys.argv[1], "pelkora-vcard-import-")
check, run, env, work = checks.check, checks.run, checks.env, checks.work
fixtures = sys.argv[2]


def imported(store, *files):
    result = run("import", "--json", "--store", store, *files)
    return json.loads(result.stdout) if result.returncode == 0 else {}


def contacts(store):
    """The book's contacts by full name (the nameless one under "")."""
    listed = json.loads(run("contacts", "--store", store, "list", "--json").stdout)
    return {contact.get("fullName", ""): contact for contact in listed}


def labelled(contact, key, render=lambda value: value):
    return [(entry["label"], render(entry["value"])) for entry in contact.get(key, [])]


# Cards as python3-vobject writes them: version 3.0, no PRODID, a category holding a comma,
# and a card without a name.
def vobject_card(given, family, **fields):
    card = vobject.vCard()
    card.add("n").value = vobject.vcard.Name(family=family, given=given)
    card.add("fn").value = f"{given} {family}".strip()
    for name, (value, kind) in fields.items():
        line = card.add(name)
        line.value = value
        if kind:
            line.type_param = kind
    return card.serialize()


written_by_vobject = os.path.join(work, "vobject.vcf")
with open(written_by_vobject, "w", encoding="utf-8", newline="") as stream:
    stream.write(vobject_card(
        "Yuki", "Nakamura", tel=("+81 3 1234 5678", "WORK"), email=("yuki@example.jp", "INTERNET"),
        categories=(["Clients", "Tokyo, Japan"], None), bday=("1979-11-02", None),
        note=("Prefers e-mail; answers within a day", None),
        adr=(vobject.vcard.Address(street="1-2-3 Shibuya", city="Tokyo", code="150-0002",
                                   country="Japan"), None)))
    stream.write(vobject_card("Olu", "Adeyemi", tel=("+234 803 555 0101", "CELL")))
    stream.write(vobject_card("", "", email=("info@example.net", "INTERNET")))

files = [os.path.join(fixtures, name) for name in (
    "apple-3.0.vcf", "android-2.1-qp.vcf", "rfc-4.0.vcf", "outlook-1252-2.1.vcf",
    "lowercase-three.vcf", "preamble-and-damaged.vcf", "shared-uid.vcf")] + [written_by_vobject]
cards_per_file = [2, 2, 1, 2, 3, 4, 2, 3]
groups = ["Book club", "Clients", "Family", "Friends", "Golf", "Neighbours", "Tokyo, Japan",
          "Work,Home"]

# The scan: cards per file, groups sorted, every card but Apple's from another program.
result = run("scan", "--json", *files)
scan = json.loads(result.stdout) if result.returncode == 0 else {}
check("scan: cards", 19, scan.get("cards"))
check("scan: cards per file", list(zip(files, cards_per_file)),
      [(entry["file"], entry["cards"]) for entry in scan.get("files", [])])
check("scan: groups", groups, scan.get("groups"))
check("scan: cards from other programs", 17, scan.get("cardsFromOtherPrograms"))
check("scan: no file skipped", [], scan.get("filesSkipped"))
result = run("scan", *files)
check("scan: the page's header", "19 contacts found", result.stdout.strip().splitlines()[-1])

# The notes text names each card's own file.
run("settings", "set", "TextToNotesTokens", "From", "FILE")
store = os.path.join(work, "book.sqlite")
summary = imported(store, *files)
check("import: cards", 19, summary.get("cards"))
check("import: contacts added", 17, summary.get("contactsAdded"))
check("import: unreadable cards", 2, summary.get("unreadableCards"))
check("import: identifiers replaced", 1, summary.get("identifiersReplaced"))
check("import: cards from other programs (readable ones)", 15,
      summary.get("cardsFromOtherPrograms"))
check("import: groups created", len(groups), summary.get("groupsCreated"))
check("import: no duplicates in an empty book", (0, 0),
      (summary.get("oldDuplicates"), summary.get("newDuplicates")))
check("import: the warnings name file and card", [
    ("preamble-and-damaged.vcf", 1, "not readable as a vCard"),
    ("preamble-and-damaged.vcf", 3, "not readable as a vCard"),
    ("shared-uid.vcf", 2, "identifier already in use"),
], sorted((w["file"], w["card"], w["problem"]) for w in summary.get("warnings", [])))

book = contacts(store)
check("every readable card is a contact", sorted([
    "", "Ana Lima", "Anke Vogel", "Ayşe Özdemir", "Bruno Costa", "Carla Souza", "Harper Quinn",
    "Jonas Hansen", "Jürgen Größer", "Lena Weber", "Maja Lindqvist", "Nils Berg", "Olu Adeyemi",
    "Renée Dupré", "Robin Okafor", "Rowan Quinn", "Yuki Nakamura"]), sorted(book))
empty = {}

# Apple: TYPE words and itemN.X-ABLabel labels, related names, dates, groups, own note first.
maja = book.get("Maja Lindqvist", empty)
check("apple phones", [("_$!<Mobile>!$_", "+46 70 123 45 67"), ("boat", "+46 70 555 01 01")],
      labelled(maja, "phoneNumbers"))
check("apple e-mail", [("_$!<Home>!$_", "maja.l@example.se"),
                       ("_$!<Other>!$_", "maja@nordljus.example")],
      labelled(maja, "emailAddresses"))
check("apple address", [("_$!<Home>!$_", ("Storgatan 5", "Uppsala", "753 20", "se"))],
      labelled(maja, "postalAddresses", lambda a: (a.get("street"), a.get("city"),
                                                   a.get("postalCode"), a.get("isoCountryCode"))))
check("apple birthday", "1986-04-17", maja.get("birthday"))
check("apple anniversary", [("_$!<Anniversary>!$_", "2012-08-25")], labelled(maja, "dates"))
check("apple spouse", [("_$!<Spouse>!$_", "Erik Lindqvist")], labelled(maja, "contactRelations"))
check("apple organization", ("Nordljus AB", "Projektledare"),
      (maja.get("organizationName"), maja.get("jobTitle")))
check("own note, then the notes text", "Met at the Uppsala fair\nFrom apple-3.0.vcf",
      maja.get("note"))
check("an escaped comma stays in the group's name", ["Friends", "Work,Home"],
      sorted(maja.get("groups", [])))
nils = book.get("Nils Berg", empty)
check("apple birthday without a year", "--06-21", nils.get("birthday"))
check("apple home page", [("_$!<HomePage>!$_", "https://nils.example.org")],
      labelled(nils, "urlAddresses"))

# Android 2.1: quoted-printable UTF-8, a soft line break inside a character.
ayse = book.get("Ayşe Özdemir", empty)
check("android names", ("Ayşe", "Özdemir"), (ayse.get("givenName"), ayse.get("familyName")))
check("android phones", [("_$!<Mobile>!$_", "+90 532 555 12 34"),
                         ("_$!<Home>!$_", "+90 212 555 00 11")], labelled(ayse, "phoneNumbers"))
check("android address", [("_$!<Home>!$_", ("İstiklal Caddesi 10", "İstanbul", "Türkiye"))],
      labelled(ayse, "postalAddresses",
               lambda a: (a.get("street"), a.get("city"), a.get("country"))))
check("android soft line break", "Komşu, çok yardımcı. Uzun bir not ki birden fazla satıra "
      "bölünür.\nFrom android-2.1-qp.vcf", ayse.get("note"))
check("android group", ["Neighbours"], ayse.get("groups"))
check("a card without a note gets the notes text", "From android-2.1-qp.vcf",
      book.get("Jonas Hansen", empty).get("note"))

# 4.0: tel: URIs, a birthday without a year, ANNIVERSARY.
robin = book.get("Robin Okafor", empty)
check("4.0 phones without the tel: scheme", [("_$!<Mobile>!$_", "+1-555-555-0134"),
                                             ("_$!<Work>!$_", "+1-555-555-0100")],
      labelled(robin, "phoneNumbers"))
check("4.0 birthday without a year", "--06-21", robin.get("birthday"))
check("4.0 anniversary", [("_$!<Anniversary>!$_", "2009-08-08")], labelled(robin, "dates"))

# Outlook 2.1 in Windows-1252, with and without a CHARSET.
jurgen = book.get("Jürgen Größer", empty)
check("windows-1252 with CHARSET", ("Bäckerei Köhler", "Hauptstraße", "München"),
      (jurgen.get("organizationName"),
       jurgen.get("postalAddresses", [{}])[0].get("value", {}).get("street", "")[:11],
       jurgen.get("postalAddresses", [{}])[0].get("value", {}).get("city")))
check("windows-1252 without CHARSET", "Café au lait – 5 €\nFrom outlook-1252-2.1.vcf",
      book.get("Renée Dupré", empty).get("note"))

# Lower-case keywords: every card, not just the first.
check("lower-case cards", ["Family"], book.get("Carla Souza", empty).get("groups"))
check("lower-case card e-mail", ["bruno@example.com.br"],
      [value for _, value in labelled(book.get("Bruno Costa", empty), "emailAddresses")])

# The cards around the damaged one and after the preamble went in.
check("card after the preamble", "From preamble-and-damaged.vcf",
      book.get("Lena Weber", empty).get("note"))
check("card after the damaged one", [("_$!<Home>!$_", "+49 40 123")],
      labelled(book.get("Anke Vogel", empty), "phoneNumbers"))

# A UID two cards share: both cards, the second with a new identifier.
harper, rowan = book.get("Harper Quinn", empty), book.get("Rowan Quinn", empty)
check("shared UID: the first keeps it", "0d6f4e2a-5b1c-4e8e-9a53-7c2b9f1e0a11",
      harper.get("identifier"))
check("shared UID: the second gets another", True,
      rowan.get("identifier") not in (None, harper.get("identifier")))
check("categories with an escaped comma and an empty item", ["Book club", "Golf", "Work,Home"],
      sorted(harper.get("groups", [])))

# python3-vobject's cards.
yuki = book.get("Yuki Nakamura", empty)
check("vobject groups", ["Clients", "Tokyo, Japan"], sorted(yuki.get("groups", [])))
check("vobject birthday", "1979-11-02", yuki.get("birthday"))
check("vobject note", "Prefers e-mail; answers within a day\nFrom vobject.vcf", yuki.get("note"))
check("the nameless card", ["info@example.net"],
      [value for _, value in labelled(book.get("", empty), "emailAddresses")])

groups_listed = json.loads(run("contacts", "--store", store, "groups", "--json").stdout)
members = {group["name"]: group["members"] for group in groups_listed}
check("group members", {"Book club": 1, "Clients": 2, "Family": 1, "Friends": 2, "Golf": 2,
                        "Neighbours": 1, "Tokyo, Japan": 1, "Work,Home": 2},
      {name: count for name, count in members.items() if name in groups})

# The book read back through a vCard export by python3-vobject.
exported = os.path.join(work, "export.vcf")
run("contacts", "--store", store, "export", exported)
with open(exported, encoding="utf-8") as stream:
    cards = list(vobject.readComponents(stream.read()))
check("vobject reads every contact back", 17, len(cards))
by_name = {card.fn.value: card for card in cards if card.fn.value}
if "Robin Okafor" in by_name:
    check("vobject: yearless birthday", "--0621", by_name["Robin Okafor"].bday.value)
if "Maja Lindqvist" in by_name:
    check("vobject: groups as CATEGORIES", ["Friends", "Work,Home"],
          sorted(by_name["Maja Lindqvist"].categories.value))

# A second import of the same files: every named contact is an old and a new duplicate, and
# every UID is now taken.
summary = imported(store, *files)
check("again: contacts added", 17, summary.get("contactsAdded"))
check("again: old duplicates", 16, summary.get("oldDuplicates"))
check("again: new duplicates (the nameless card is not compared)", 16,
      summary.get("newDuplicates"))
check("again: identifiers replaced", 3, summary.get("identifiersReplaced"))
check("again: no group created twice", 0, summary.get("groupsCreated"))

# A folder: its .vcf files in name order, whatever the extension's case; nothing else.
folder = os.path.join(work, "folder")
os.mkdir(folder)
shutil.copy(os.path.join(fixtures, "rfc-4.0.vcf"), os.path.join(folder, "b.vcf"))
shutil.copy(os.path.join(fixtures, "apple-3.0.vcf"), os.path.join(folder, "A.VCF"))
shutil.copy(os.path.join(fixtures, "lowercase-three.vcf"), os.path.join(folder, "a2.vcf"))
shutil.copy(os.path.join(fixtures, "rfc-4.0.vcf"), os.path.join(folder, "notes.txt"))
os.mkdir(os.path.join(folder, "sub.vcf"))
scan = json.loads(run("scan", "--json", folder).stdout or "{}")
check("folder: .vcf files in name order", [("A.VCF", 2), ("a2.vcf", 3), ("b.vcf", 1)],
      [(os.path.basename(entry["file"]), entry["cards"]) for entry in scan.get("files", [])])
folder_store = os.path.join(work, "folder.sqlite")
summary = imported(folder_store, folder)
check("folder: every card", (6, 6), (summary.get("cards"), summary.get("contactsAdded")))
folder_book = contacts(folder_store)
check("folder: each note names its file", ["From A.VCF", "From a2.vcf", "From b.vcf"],
      sorted({contact.get("note", "").split("\n")[-1] for contact in folder_book.values()}))

# A vCard saved as .txt is classified by its content.
as_text = os.path.join(work, "contacts.txt")
shutil.copy(os.path.join(fixtures, "apple-3.0.vcf"), as_text)
summary = imported(os.path.join(work, "text.sqlite"), as_text)
check("a vCard named .txt is imported as vCards", (2, 2),
      (summary.get("cards"), summary.get("contactsAdded")))

checks.finish()
