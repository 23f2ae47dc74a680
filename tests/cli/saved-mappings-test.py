#!/usr/bin/python3
"""Saved mappings through `pelkora mappings` and --mapping: a mapping saved from one file is
listed and shown, applied by name to a file of other column order and letter case (map, then
import into a private address book), a headerless file saves a mapping by position, an export
re-imported keeps titles and uuids, delete asks for --yes without a terminal, and the errors
exit 2. list, show and map --mapping leave the saved mappings' file as it was.

Usage: saved-mappings-test.py PATH/TO/pelkora
"""
import json
import os
import sys

from command_checks import CommandChecks

checks = CommandChecks(sys.argv[1], "pelkora-mappings-")
check, expect, run, work = checks.check, checks.expect, checks.run, checks.work
saved_file = os.path.join(work, "data", "pelkora", "SavedMappings")
book = os.path.join(work, "book.sqlite")


def write(name, text):
    path = os.path.join(work, name)
    with open(path, "w", encoding="utf-8") as out:
        out.write(text)
    return path


def run_json(*arguments):
    result = run(*arguments)
    try:
        return json.loads(result.stdout)
    except (json.JSONDecodeError, AttributeError):
        checks.fail(f"pelkora {' '.join(arguments)} printed no JSON")
        return None


def targets(*arguments):
    return [(column["title"], column["propertyKey"]) for column in run_json("map", "--json",
                                                                            *arguments) or []]


def snapshot():
    status = os.stat(saved_file)
    with open(saved_file, "rb") as data:
        return status.st_mtime_ns, data.read()


shop = write("shop.csv", "First Name,Last Name,Mobil,Kundennr\nAda,Lovelace,+44 1,K1\n")
march = write("march.csv", "kundennr,LAST NAME,first name,Mobil\nK2,Turing,Alan,+49 2\n")
check("list with nothing saved", [], run_json("mappings", "list", "--json"))

# Saved by name from a file with titles; listed and shown.
run("mappings", "save", "--set", "Kundennr=nickname", "Shop", shop)
listed = run_json("mappings", "list", "--json") or [{}]
check("the listed mapping", ("Shop", "byName", 4, 0),
      tuple(listed[0].get(key) for key in ("title", "mode", "columns", "usageCount")))
shown = run_json("mappings", "show", "--json", "shop") or {"columns": []}
check("its columns", [("First Name", "givenName"), ("Last Name", "familyName"),
                      ("Mobil", "phoneNumbers"), ("Kundennr", "nickname")],
      [(column["title"], column["propertyKey"]) for column in shown["columns"]])

# Applied by name, ignoring order and case; reading commands leave the file as it was.
before = snapshot()
check("map --mapping", [("kundennr", "nickname"), ("LAST NAME", "familyName"),
                        ("first name", "givenName"), ("Mobil", "phoneNumbers")],
      targets("--mapping", "SHOP", march))
run("mappings", "list")
run("mappings", "show", "Shop")
check("the file after list, show and map --mapping", before, snapshot())
run("import", "--store", book, "--mapping", "shop", march)
contacts = run_json("contacts", "--store", book, "list", "--json") or [{}]
check("the imported contact", ("Alan", "Turing", "K2"),
      tuple(contacts[0].get(key) for key in ("givenName", "familyName", "nickname")))
check("the import counts the use", 1,
      (run_json("mappings", "list", "--json") or [{}])[0].get("usageCount"))

# Without titles: by position; a longer row leaves its extra column unmapped.
write("bank.csv", "Ada,Lovelace,ada@example.org\n")
run("mappings", "save", "--no-header", "--set", "1=givenName", "--set", "2=familyName",
    "--set", "3=emailAddresses", "Bank", os.path.join(work, "bank.csv"))
write("bank2.csv", "Alan,Turing,alan@example.org,K2\n")
check("by position", [("", "givenName"), ("", "familyName"), ("", "emailAddresses"), ("", None)],
      targets("--no-header", "--mapping", "bank", os.path.join(work, "bank2.csv")))

# Export and import keep titles and uuids; a .zubmapping file applies its first mapping.
uuids = {entry["title"]: entry["uuid"] for entry in run_json("mappings", "list", "--json") or []}
everything = os.path.join(work, "all.zubmapping")
run("mappings", "export", everything)
run("mappings", "export", everything, expect=2)
run("mappings", "export", "--force", os.path.join(work, "shop.zubmapping"), "shop")
check("--mapping FILE.zubmapping", "nickname",
      targets("--mapping", os.path.join(work, "shop.zubmapping"), march)[0][1])
run("mappings", "delete", "Shop", expect=2)
run("mappings", "delete", "--yes", "Shop", "Bank")
check("after delete", [], run_json("mappings", "list", "--json"))
run("mappings", "import", everything)
check("re-imported", uuids,
      {entry["title"]: entry["uuid"] for entry in run_json("mappings", "list", "--json") or []})
run("mappings", "rename", "bank", "Yearly")
check("renamed", ["Shop", "Yearly"],
      [entry["title"] for entry in run_json("mappings", "list", "--json") or []])

# Errors: exit 2 with the reason.
other = write("other.csv", "Foo,Bar\n1,2\n")
result = run("map", "--mapping", "shop", other, expect=2)
expect("no title matches", result and "Could not apply mapping" in result.stderr,
       result and result.stderr)
run("map", "--mapping", "nothing", march, expect=2)
run("mappings", "show", "nothing", expect=2)
run("mappings", "save", "shop", march, expect=2)
run("mappings", "rename", "Yearly", "SHOP", expect=2)
run("mappings", "import", shop, expect=2)
checks.finish()
