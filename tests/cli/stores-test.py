#!/usr/bin/python3
"""Address books named by URI and by name: `pelkora stores add|list|default|remove`, --store
taking a name, a URI or a path, imports into a vCard folder (vdir:) that khard reads, and
undo reopening the store an import went into from the journal, whatever the default is now.

Usage: stores-test.py PATH/TO/pelkora EXAMPLES_DIR PATH/TO/private-eds.sh
"""
import json
import os
import shutil
import sqlite3
import subprocess
import sys
import time

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
run("stores", "add", "odd", "ldap://example.org/", expect=2)
run("stores", "add", "odd", "vdir:" + cards, "--user", "ada", expect=2)
# A password never goes over plain HTTP to another computer: refused before anything is sent.
refused = run("stores", "add", "odd", "carddav:http://ada@example.org/dav/", expect=3)
expect("the plain-HTTP password is refused with the reason",
       "use an https:// address" in refused.stderr, refused.stderr)
listed = {entry["name"]: entry for entry in run_json("stores", "list", "--json")}
check("the named stores", ("sqlite:" + book, "vdir:" + cards),
      (listed.get("work", {}).get("uri"), listed.get("cards", {}).get("uri")))
check("the usual book is the default", True, listed.get("(usual)", {}).get("default"))

# The default store takes the import; undo finds it again after the default changed.
run("stores", "default", "work")
run("import", "--json", csv)
check("the import went into the default store", 30, count("work"))
# The book is readable by other tools: each contact is a JSON record SQLite's functions query,
# and a record another tool edits that way reads back through pelkora.
with sqlite3.connect(book) as database:
    mails = database.execute("SELECT json_extract(record, '$.emailAddresses[0].value') FROM "
                             "contacts WHERE full_name = 'Anna Müller'").fetchall()
    database.execute("UPDATE contacts SET record = json_set(record, '$.jobTitle', 'Chief Baker') "
                     "WHERE full_name = 'Anna Müller'")
check("SQLite's JSON functions read a contact's e-mail", [("anna.mueller@example.de",)], mails)
edited = [contact.get("jobTitle") for contact in run_json("contacts", "--store", "work", "list",
                                                          "--json")
          if contact.get("fullName") == "Anna Müller"]
check("a record edited with SQLite's JSON functions reads back", ["Chief Baker"], edited)
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
# Under AddressSanitizer, EDS's own leaks (its source registry's set-up) are not ours to report.
eds_env = dict(checks.env)
eds_env["ASAN_OPTIONS"] = ":".join(filter(None, [eds_env.get("ASAN_OPTIONS"), "detect_leaks=0"]))
inside = f"""
set -e
P={checks.pelkora}
$P import --store eds: --json {csv} > /dev/null
$P contacts --store eds: list --json > {work}/eds-list.json
$P contacts --store eds: groups --json > {work}/eds-groups.json
$P undo --yes > /dev/null
$P contacts --store eds: list --json > {work}/eds-after.json
"""
eds = subprocess.run(["bash", sys.argv[3], "bash", "-c", inside], env=eds_env,
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

# Killed in the middle of an import, a vCard folder and the desktop's address book keep whole
# chunks of 500 only: the folder rolls the cut chunk back at its next open.
big = os.path.join(work, "big.csv")
with open(big, "w", encoding="utf-8") as out:
    out.write("First Name,Last Name,E-mail\n")
    for row in range(20000):
        out.write(f"Person,Number {row},p{row}@example.org\n")
killed = os.path.join(work, "killed")
process = subprocess.Popen([checks.pelkora, "import", "--store", "vdir:" + killed, big],
                           env=checks.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
deadline = time.monotonic() + 60
while time.monotonic() < deadline and process.poll() is None:
    written = sum(name.endswith(".vcf") for _, _, names in os.walk(killed) for name in names)
    if written > 700:
        break
    time.sleep(0.02)
process.kill()
process.wait()
left = count("vdir:" + killed)
expect("a killed import into a vCard folder leaves whole chunks", left % 500 == 0 and left > 0,
       f"{left} contacts")

# Two imports into one vCard folder at the same time take turns through its lock: every row of
# both files arrives, once, and no request is left half done.
shared = os.path.join(work, "shared")
imports = []
for side in ("left", "right"):
    table = os.path.join(work, side + ".csv")
    with open(table, "w", encoding="utf-8") as out:
        out.write("First Name,Last Name,E-mail,Groups\n")
        for row in range(3000):
            out.write(f"{side.title()},Number {row},{side}{row}@example.org,Team {row % 3}\n")
    imports.append(subprocess.Popen([checks.pelkora, "import", "--store", "vdir:" + shared, table],
                                    env=checks.env, stdout=subprocess.DEVNULL,
                                    stderr=subprocess.PIPE, text=True))
for process in imports:
    _, errors = process.communicate(timeout=300)
    check(f"a concurrent import into one folder succeeds ({errors.strip()[-300:]})", 0,
          process.returncode)
names = [contact.get("fullName") for contact in
         run_json("contacts", "--store", "vdir:" + shared, "list", "--json")]
check("both concurrent imports arrived whole, once each", 6000, len(set(names)))
check("no contact was written twice", len(names), len(set(names)))
leftovers = [name for _, _, files in os.walk(shared) for name in files
             if name.startswith(".") and name not in (".pelkora-groups", ".pelkora-lock")]
check("no journal or temporary file is left", [], leftovers)

inside = f"""
P={checks.pelkora}
$P import --store eds: {big} > /dev/null 2>&1 &
pid=$!
deadline=$((SECONDS + 120))
while [ $SECONDS -lt $deadline ] && kill -0 $pid 2>/dev/null; do
  n=$($P contacts --store eds: list --json 2>/dev/null | /usr/bin/python3 -c 'import json,sys; print(len(json.load(sys.stdin)))')
  [ "${{n:-0}}" -gt 0 ] && break
  sleep 0.2
done
kill -9 $pid; wait $pid 2>/dev/null
$P contacts --store eds: list --json > {work}/eds-killed.json
"""
eds = subprocess.run(["bash", sys.argv[3], "bash", "-c", inside], env=eds_env,
                     capture_output=True, text=True)
if eds.returncode == 77:
    print("SKIPPED the killed import into the desktop's address book: " + eds.stderr.strip())
else:
    try:
        with open(os.path.join(work, "eds-killed.json"), encoding="utf-8") as text:
            left = len(json.load(text))
    except (OSError, ValueError):
        left = -1
    expect("a killed import into eds: leaves whole chunks", left % 500 == 0 and left > 0,
           f"{left} contacts ({eds.stderr.strip()[-300:]})")

run("stores", "remove", "work")
run("stores", "remove", "work", expect=2)
run("contacts", "--store", "nothere:", "list", expect=2)
checks.finish()
