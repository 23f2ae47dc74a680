#!/usr/bin/python3
"""Imports a generated table of 1,200 rows into a private address book with `pelkora import`
and takes it out again with `pelkora undo`: the journal as `pelkora imports --json` lists it
(a dry run records nothing), `undo --dry-run` and a refused `undo` leave the address book's
file as it was, `undo --yes` removes every contact of the import and the group it made while
a group that was there before keeps its members, a second undo exits 2, and an older import
is undone by its number.

Usage: undo-test.py PATH/TO/pelkora
"""
import hashlib
import json
import os
import sys

from command_checks import CommandChecks

checks = CommandChecks(sys.argv[1], "pelkora-undo-")
check, run, env, work = checks.check, checks.run, checks.env, checks.work
store = os.path.join(work, "data", "pelkora", "contacts.sqlite")


def run_json(*arguments, expect=0):
    result = run(*arguments, expect=expect)
    try:
        return json.loads(result.stdout)
    except json.JSONDecodeError:
        checks.fail(f"pelkora {' '.join(arguments)} printed no JSON: {result.stdout!r}")
        return None


def write_csv(name, rows):
    path = os.path.join(work, name)
    with open(path, "w", encoding="utf-8") as out:
        out.write("First name,Last name,Groups\n")
        for row in rows:
            out.write(",".join(row) + "\n")
    return path


def store_hash():
    digest = hashlib.sha256()
    for suffix in ("", "-wal"):
        if os.path.exists(store + suffix):
            with open(store + suffix, "rb") as data:
                digest.update(data.read())
    return digest.hexdigest()


def contact_names():
    return sorted(f"{c.get('givenName', '')} {c.get('familyName', '')}"
                  for c in run_json("contacts", "list", "--json") or [])


def group_counts():
    counts = {}
    for line in run("contacts", "groups").stdout.splitlines():
        name, _, count = line.rpartition("\t")
        counts[name] = int(count)
    return counts


try:
    run("settings", "set", "TextToNotesTokens", "Import", "TRANSNUM")
    before = write_csv("before.csv", [("Ada", "Lovelace", "Friends"), ("Bob", "Byte", "Friends")])
    run("import", before)
    check("groups before the big import", {"Friends": 2, "OLD DUPLICATES": 0,
                                           "NEW DUPLICATES": 0}, group_counts())

    big = write_csv("people.csv", [("Person", f"N{index:04d}",
                                    "Friends; Imported" if index % 3 == 0 else "Imported")
                                   for index in range(1200)])
    run("import", "--dry-run", big)
    check("a dry run records nothing", 1, len(run_json("imports", "--json") or []))
    summary = run_json("import", "--json", big) or {}
    check("contacts added", 1200, summary.get("contactsAdded"))

    imports = run_json("imports", "--json") or [{}, {}]
    check("imports listed", 2, len(imports))
    latest = imports[0]
    check("newest first", [os.path.join(work, "people.csv")], latest.get("files"))
    check("contacts saved", 1200, latest.get("contactsSaved"))
    check("store", store, latest.get("store"))
    check("still undoable", False, latest.get("undone"))
    notes = {c.get("note") for c in run_json("contacts", "list", "--json") or []
             if c.get("familyName", "").startswith("N")}
    check("the number is the notes text's TRANSNUM", {f"Import {latest.get('number')}"}, notes)
    table = run("imports").stdout
    check("the table names the import", True,
          latest.get("number", "?") in table and "undoable" in table)

    untouched = store_hash()
    plan = run_json("undo", "--dry-run", "--json") or {}
    check("dry run: contacts it would remove", 1200, plan.get("contactsRemoved"))
    check("dry run: groups it would remove", ["Imported"], plan.get("groupsRemoved"))
    check("dry run: groups it would keep", [], plan.get("groupsKept"))
    check("a dry run changes nothing", untouched, store_hash())
    refused = run("undo", expect=2)
    check("without a terminal undo asks for --yes", True, "--yes" in refused.stderr)
    check("a refused undo changes nothing", untouched, store_hash())
    check("a refused undo leaves the import undoable", False,
          (run_json("imports", "--json") or [{}])[0].get("undone"))

    undone = run_json("undo", "--yes", "--json") or {}
    check("contacts removed", 1200, undone.get("contactsRemoved"))
    check("groups removed", ["Imported"], undone.get("groupsRemoved"))
    check("contacts left", ["Ada Lovelace", "Bob Byte"], contact_names())
    check("the group that was there before keeps its members",
          {"Friends": 2, "OLD DUPLICATES": 0, "NEW DUPLICATES": 0}, group_counts())
    again = run("undo", "--yes", expect=2)
    check("a second undo says so", True, "undone already" in again.stderr)
    check("the journal marks it undone", True,
          (run_json("imports", "--json") or [{}])[0].get("undone"))

    # The first import, named by its number: its contacts go, and so do its three groups,
    # which nothing else is in now.
    first = run_json("undo", "--yes", "--json", imports[1].get("number", "?")) or {}
    check("the older import's contacts", 2, first.get("contactsRemoved"))
    check("the older import's groups", ["Friends", "NEW DUPLICATES", "OLD DUPLICATES"],
          sorted(first.get("groupsRemoved", [])))
    check("an empty address book", [], contact_names())
    run("undo", "--yes", "no-such-import", expect=2)
finally:
    checks.finish()
