#!/usr/bin/python3
"""Address books named by URI and by name: `pelkora stores add|list|default|remove`, --store
taking a name, a URI or a path, imports into a vCard folder (vdir:) that khard reads, and
undo reopening the store an import went into from the journal, whatever the default is now.

Usage: stores-test.py PATH/TO/pelkora EXAMPLES_DIR PATH/TO/private-eds.sh
"""
import json
import os
import shutil
import subprocess
import sys

from command_checks import CommandChecks

checks = CommandChecks(sys.argv[1], "pelkora-stores-")
check, expect, run, work = checks.check, checks.expect, checks.run, checks.work
csv = os.path.join(sys.argv[2], "contacts.csv")


def run_json(*arguments, expect=0):
    result = run(*arguments, expect=expect)
    try:
        return json.loads(result.stdout)
    except (ValueError, AttributeError):
        checks.fail(f"pelkora {' '.join(arguments)} printed no JSON")
        return []


def count(store):
    return len(run_json("contacts", "--store", store, "list", "--json"))


book = os.path.join(work, "work.sqlite")
cards = os.path.join(work, "cards")
run("stores", "add", "work", book)
run("stores", "add", "cards", "vdir:" + cards)
run("stores", "add", "a:b", "eds:", expect=2)
run("stores", "add", "odd", "carddav:https://example.org/", expect=2)
listed = {entry["name"]: entry for entry in run_json("stores", "list", "--json")}
check("the named stores", ("sqlite:" + book, "vdir:" + cards),
      (listed.get("work", {}).get("uri"), listed.get("cards", {}).get("uri")))
check("the usual book is the default", True, listed.get("(usual)", {}).get("default"))

# The default store takes the import; undo finds it again after the default changed.
run("stores", "default", "work")
run("import", "--json", csv)
check("the import went into the default store", 30, count("work"))
run("stores", "default", "usual")
run("undo", "--yes")
check("undo reopened the store the import went into", 0, count(book))

# A vCard folder: one file per contact, read by khard, and undone file by file.
run("import", "--store", "cards", csv)
files = [name for name in os.listdir(cards) if name.endswith(".vcf")] if os.path.isdir(cards) else []
if not files:  # a folder of collections keeps them one level down
    for root, _, names in os.walk(cards):
        files += [name for name in names if name.endswith(".vcf")]
check("one .vcf file per contact", 30, len(files))
check("the folder reads back through the store", 30, count("vdir:" + cards))
if shutil.which("khard"):
    config = os.path.join(work, "khard.conf")
    collection = cards if any(name.endswith(".vcf") for name in os.listdir(cards)) else \
        os.path.join(cards, sorted(os.listdir(cards))[0])
    with open(config, "w", encoding="utf-8") as out:
        out.write(f"[addressbooks]\n[[pelkora]]\npath = {collection}\n\n[general]\n"
                  "default_action = list\n")
    listed = subprocess.run(["khard", "-c", config, "list", "--parsable"], capture_output=True,
                            text=True, env=checks.env)
    check("khard lists every contact", 30, len([line for line in listed.stdout.splitlines()
                                                if line.strip()]))
else:
    print("SKIPPED khard: it is not installed")
run("undo", "--yes")
check("undo removed the folder's contacts", 0, count("vdir:" + cards))

# The desktop's address book, in a private Evolution Data Server: import, read back, undo.
inside = f"""
set -e
P={checks.pelkora}
$P import --store eds: --json {csv} > /dev/null
$P contacts --store eds: list --json > {work}/eds-list.json
$P contacts --store eds: groups --json > {work}/eds-groups.json
$P undo --yes > /dev/null
$P contacts --store eds: list --json > {work}/eds-after.json
"""
eds = subprocess.run(["bash", sys.argv[3], "bash", "-c", inside], env=checks.env,
                     capture_output=True, text=True)
if eds.returncode == 77:
    print("SKIPPED the desktop's address book: " + eds.stderr.strip())
else:
    check(f"import into eds: and undo ({eds.stderr.strip()[-300:]})", 0, eds.returncode)
    def loaded(name):
        try:
            with open(os.path.join(work, name), encoding="utf-8") as text:
                return json.load(text)
        except (OSError, ValueError):
            return None
    check("eds: holds the 30 contacts", 30, len(loaded("eds-list.json") or []))
    expect("eds: shows the file's groups as categories",
           "Friends" in json.dumps(loaded("eds-groups.json")), loaded("eds-groups.json"))
    check("undo emptied the eds: book", [], loaded("eds-after.json"))

run("stores", "remove", "work")
run("stores", "remove", "work", expect=2)
run("contacts", "--store", "nothere:", "list", expect=2)
checks.finish()
