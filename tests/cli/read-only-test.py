#!/usr/bin/python3
"""Commands that only read leave the user's folders as they were.

With a real settings file, learnt titles and an address book in private XDG folders, every
command that only reads runs, and the configuration, data, state and cache folders are hashed
before and after each one: the same files with the same bytes, no file or folder more. The
runtime log is the exception: it records every run. Commands that do write (an import, a
mapping with --learn) change the folders, so the comparison can fail.

Usage: read-only-test.py PATH/TO/pelkora EXAMPLES-FOLDER
"""

import hashlib
import os
import subprocess
import sys
import tempfile
from pathlib import Path

pelkora = sys.argv[1]
examples = Path(sys.argv[2])
failures = []


def check(name, condition, detail=""):
    if not condition:
        failures.append(name)
        print(f"FAILED: {name}\n  {detail}")


def run(*arguments, expected=0):
    result = subprocess.run([pelkora, *arguments], env=environment, capture_output=True,
                            text=True, timeout=300)
    check(f"pelkora {' '.join(arguments)}: exit {expected}", result.returncode == expected,
          f"exit {result.returncode}; stderr: {result.stderr.strip()[-400:]}")
    return result


def snapshot():
    """Every folder and file under the XDG folders but the runtime log's, files by hash."""
    state = {}
    for base in homes.values():
        for folder, folders, files in os.walk(base):
            folder = Path(folder)
            if folder == logs or logs in folder.parents:
                continue
            state[str(folder)] = "folder"
            for name in files:
                state[str(folder / name)] = hashlib.sha256((folder / name).read_bytes()).hexdigest()
    return state


def differences(before, after):
    changed = [path for path in before if path in after and before[path] != after[path]]
    return (sorted(set(after) - set(before)), sorted(set(before) - set(after)), changed)


with tempfile.TemporaryDirectory() as work:
    work = Path(work)
    homes = {name: work / name.lower() for name in
             ("XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_STATE_HOME", "XDG_CACHE_HOME")}
    for home in homes.values():
        home.mkdir()
    logs = homes["XDG_STATE_HOME"] / "pelkora" / "logs"
    environment = dict(os.environ, **{name: str(path) for name, path in homes.items()})
    contacts = examples / "contacts.csv"
    workbook = examples / "contacts.xlsx"
    card = work / "ada.vcf"
    card.write_text("BEGIN:VCARD\r\nVERSION:3.0\r\nN:Lovelace;Ada;;;\r\nFN:Ada Lovelace\r\n"
                    "CATEGORIES:Maths\r\nEND:VCARD\r\n", encoding="utf-8")
    odd_dates = work / "odd-dates.csv"
    odd_dates.write_text("First Name,Last Name,Birthday\nAda,Berg,soon\n", encoding="utf-8")

    # What a user has after a while: settings, a custom date format, a learnt title and an
    # address book with contacts and groups.
    run("import", str(contacts))
    run("map", "--learn", "--set", "Groups=nickname", str(contacts))
    run("settings", "set", "DefaultCountryCode", "at")
    run("dates", "add", "--format", "d/M/yy", "--locale", "de")
    start = snapshot()
    for name in ("pelkora/settings.plist",):
        check(f"set-up wrote {name}", str(homes["XDG_CONFIG_HOME"] / name) in start)
    for name in ("pelkora/contacts.sqlite", "pelkora/CustomStringMap.map"):
        check(f"set-up wrote {name}", str(homes["XDG_DATA_HOME"] / name) in start)

    typo = work / "typo" / "contacts.sqlite"
    read_only = [
        (("open", str(contacts)), 0),
        (("open", str(card)), 0),
        (("rows", "--quiet", str(contacts)), 0),
        (("rows", "--json", "--sheet", "People", str(workbook)), 0),
        (("sheets", str(workbook)), 0),
        (("encodings",), 0),
        (("map", str(contacts)), 0),
        (("map", "--json", "--preview", "--row", "2", str(contacts)), 0),
        (("map", "--set", "Country=departmentName", "--set", "Groups=middleName", str(contacts)), 0),
        (("map", "--sheet", "People", str(workbook)), 0),
        (("scan", str(card)), 0),
        (("catalogue",), 0),
        (("catalogue", "--labels", "phoneNumbers"), 0),
        (("vocabulary", "--lang", "de", "--find", "Straße"), 0),
        (("vocabulary", "--custom"), 0),
        (("vocabulary", "--forget", "Never learnt"), 2),
        (("dates", "test", "--format", "dd.MM.yyyy", "12.05.1979"), 0),
        (("dates", "list"), 0),
        (("settings", "list"), 0),
        (("settings", "get", "DefaultCountryCode"), 0),
        (("contacts", "containers"), 0),
        (("contacts", "list"), 0),
        (("contacts", "--json", "list"), 0),
        (("contacts", "groups"), 0),
        (("contacts", "--store", str(typo), "list"), 3),
        (("log", "--path"), 0),
        (("imports",), 0),
        (("imports", "--json"), 0),
        (("undo", "--dry-run"), 0),
        (("import", "--dry-run", "--set", "Country=departmentName", str(contacts)), 0),
        (("import", "--dry-run", "--json", str(card)), 0),
        (("import", "--strict", "--set", "Last Name=nickname", str(odd_dates)), 2),
        (("export-vcard", "-o", str(work / "out.vcf"), str(contacts)), 0),
    ]
    for arguments, expected in read_only:
        result = run(*arguments, expected=expected)
        added, removed, changed = differences(start, snapshot())
        check(f"pelkora {' '.join(arguments)} leaves the folders alone",
              not (added or removed or changed),
              f"added {added}, removed {removed}, changed {changed}")
        if arguments[:3] == ("contacts", "--store", str(typo)):
            check("a mistyped store is named", f"no address book at {typo}" in result.stderr,
                  result.stderr)
            check("a mistyped store is not created", not (work / "typo").exists())

    # Without --learn the correction was not learnt; with it, it is.
    mapped = run("map", str(contacts)).stdout
    check("map --set learnt nothing", "\tCountry\tDepartment" not in mapped, mapped)
    run("map", "--learn", "--set", "Country=departmentName", str(contacts))
    added, removed, changed = differences(start, snapshot())
    check("map --learn writes the learnt titles",
          str(homes["XDG_DATA_HOME"] / "pelkora" / "CustomStringMap.map") in changed,
          f"added {added}, removed {removed}, changed {changed}")

    # A real import changes the address book and the settings.
    learnt = snapshot()
    run("import", "--set", "Country=departmentName", str(contacts))
    added, removed, changed = differences(learnt, snapshot())
    for home, name in (("XDG_DATA_HOME", "contacts.sqlite"), ("XDG_CONFIG_HOME", "settings.plist")):
        check(f"an import changes {name}", str(homes[home] / "pelkora" / name) in changed,
              f"added {added}, removed {removed}, changed {changed}")

    # A damaged settings file is kept aside and the import says so on stderr, once; a second
    # damaged file is kept next to the first.
    settings = homes["XDG_CONFIG_HOME"] / "pelkora" / "settings.plist"
    for number, aside in ((1, "settings.plist.damaged"), (2, "settings.plist.damaged-2")):
        settings.write_text(f"<plist><dict><key>damage {number}</key>", encoding="utf-8")
        result = run("import", "--no-duplicates", str(contacts))
        check(f"damaged settings {number}: one warning",
              result.stderr.count("warning: settings: The settings file") == 1, result.stderr)
        kept = settings.parent / aside
        check(f"damaged settings {number}: kept as {aside}",
              kept.exists() and f"damage {number}" in kept.read_text(encoding="utf-8"))

if failures:
    print(f"{len(failures)} checks failed")
    sys.exit(1)
print("all checks passed")
