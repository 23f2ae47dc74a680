#!/usr/bin/python3
"""Imports the real-format exports of tests/data/exports with `pelkora import`, reads the
address book back through `pelkora contacts export` with python3-vobject, and checks every
label, value, date (or deliberate lack of one) and group, and the warnings of the summary.

Usage: real-exports-test.py PATH/TO/pelkora EXPORTS-FOLDER
"""
import json
import os
import subprocess
import sys
import tempfile

try:
    import vobject
except ImportError:
    print("skipped: python3-vobject is not installed (scripts/install-deps --tests installs it)")
    sys.exit(77)

pelkora, exports = sys.argv[1], sys.argv[2]
work = tempfile.mkdtemp(prefix="pelkora-real-exports-")
env = dict(os.environ, LC_ALL="C.UTF-8")
for name in ("CONFIG", "STATE", "DATA", "CACHE"):
    env[f"XDG_{name}_HOME"] = os.path.join(work, name.lower())
failures = []


def check(what, expected, actual):
    if expected != actual:
        failures.append(f"{what}\n  expected: {expected!r}\n  actual:   {actual!r}")


def imported(file_name, *options):
    """The summary of importing the file into a fresh book, and the book's cards by FN."""
    store = os.path.join(work, file_name + ".sqlite")
    result = subprocess.run(
        [pelkora, "import", "--json", "--no-note-text", "--store", store, *options,
         os.path.join(exports, file_name)],
        env=env, capture_output=True, text=True)
    check(f"{file_name}: import exit ({result.stderr.strip()})", 0, result.returncode)
    summary = json.loads(result.stdout) if result.returncode == 0 else {"warnings": []}
    out = os.path.join(work, file_name + ".vcf")
    subprocess.run([pelkora, "contacts", "--store", store, "export", out], env=env,
                   check=True, capture_output=True)
    with open(out, encoding="utf-8") as stream:
        text = stream.read()
    check(f"{file_name}: no internal label token in the export", False, "_$!<" in text)
    cards = {card.fn.value: card for card in vobject.readComponents(text)}
    return summary, cards


def typed(card, name):
    """Each value of a property with its label: the X-ABLabel of its group, else its TYPEs
    (INTERNET and VOICE left out), as "label=value" in file order."""
    labels = {line.group: line.value for line in card.lines() if line.name == "X-ABLABEL"}
    found = []
    for line in card.contents.get(name.lower(), []):
        if line.group in labels:
            label = labels[line.group]
        else:
            types = [t.lower() for t in line.params.get("TYPE", [])
                     if t.lower() not in ("internet", "voice", "pref")]
            label = ",".join(types)
        value = line.value if isinstance(line.value, str) else str(line.value)
        found.append(f"{label}={value}")
    return found


def value(card, name):
    lines = card.contents.get(name.lower())
    return lines[0].value if lines else None


def categories(card):
    lines = card.contents.get("categories")
    return sorted(lines[0].value) if lines else []


# Google's current export: label columns, " ::: " values, system groups, a yearless birthday.
summary, cards = imported("google-current.csv")
check("google: no warnings", [], summary["warnings"])
ada = cards["Ada Augusta Lovelace"]
check("google: Ada's phones", ["cell=+1 415 555 0101", "cell=+1 415 555 0102",
                               "work,fax=+1 415 555 0199"], typed(ada, "TEL"))
check("google: Ada's e-mails", ["home=ada@example.org", "work=ada@analytical.example.com",
                                "work=a.lovelace@analytical.example.com"], typed(ada, "EMAIL"))
check("google: custom label", ["Blog=https://ada.example.org/blog"], typed(ada, "URL"))
check("google: yearless birthday", "--0621", value(ada, "BDAY"))
check("google: system groups dropped", ["Friends"], categories(ada))
grace = cards["Rear Admiral Grace Brewster Hopper"]
check("google: labels pair by position", ["work=+1 202 555 0110", "Google Voice=+1 202 555 0111",
                                          "Assistant=+1 202 555 0112", "home=+1 703 555 0113"],
      typed(grace, "TEL"))
check("google: two addresses in one cell", ["work", "home"],
      [line.params["TYPE"][0].lower() for line in grace.contents["adr"]])
check("google: groups", ["Friends", "Navy"], categories(grace))
initech = cards["Initech"]
check("google: main, pager, home fax", ["main=+1 512 555 0100", "pager=+1 512 555 0177",
                                        "home,fax=+1 512 555 0178"], typed(initech, "TEL"))

# Google's old export: "- Type" columns, Group Membership, a full-name column.
summary, cards = imported("google-old.csv")
check("google old: no warnings", [], summary["warnings"])
alan = cards["Alan Mathison Turing"]
check("google old: phones", ["cell=+44 7700 900101", "home,fax=+44 20 7946 0101",
                             "work,fax=+44 20 7946 0102"], typed(alan, "TEL"))
check("google old: name parts", ["Turing", "Alan", "Mathison"],
      [alan.n.value.family, alan.n.value.given, alan.n.value.additional])
check("google old: groups", ["Bletchley"], categories(alan))
joan = cards["Joan Elisabeth Clarke"]
check("google old: e-mails", ["work=joan@bletchley.example.gov.uk", "home=joan@example.org"],
      typed(joan, "EMAIL"))

# Outlook: "0/0/00" means no date, with no warning.
summary, cards = imported("outlook-birthday-anniversary.csv")
check("outlook: no warnings", [], summary["warnings"])
check("outlook: no invented dates", [None, None],
      [value(cards["Ann Baker"], "BDAY"), value(cards["Ann Baker"], "X-ANNIVERSARY")])
check("outlook: dates", ["1980-06-21", "2005-05-14", "1971-02-03"],
      [value(cards["Carl Dunn"], "BDAY"), value(cards["Erin Fox"], "X-ANNIVERSARY"),
       value(cards["Gus Hale"], "BDAY")])

# French and German files: day first; an impossible day goes into the note with a warning.
summary, cards = imported("fr-date-de-naissance.csv")
check("french: warnings", [{"row": 4, "column": "Date de naissance", "value": "31/02/2000",
                            "problem": "not a date"}], summary["warnings"])
check("french: day first", ["1975-04-03", "1962-11-09", "1989-12-01"],
      [value(cards[name], "BDAY") for name in ("Camille Durand", "Hugo Lefèvre", "Chloé Petit")])
check("french: no invented date", None, value(cards["Léa Moreau"], "BDAY"))
check("french: the value kept in the note", True, "31/02/2000" in value(cards["Léa Moreau"], "NOTE"))
summary, cards = imported("de-geburtstag.csv")
check("german: one warning", [4], [warning["row"] for warning in summary["warnings"]])
check("german: dates", ["1980-06-21", "--0621", None, "1975-04-03"],
      [value(cards[name], "BDAY")
       for name in ("Jürgen Schäfer", "Anke Vogel", "Timo Krause", "Maren Lorenz")])

# German addresses with a Belgian, a Swiss and an Austrian one: each country its own width.
summary, cards = imported("german-addresses.csv")
codes = {name: (card.adr.value.code, card.adr.value.country) for name, card in cards.items()}
check("addresses: postal codes by country",
      [("01067", "Deutschland"), ("1000", "Belgique"), ("8001", "Schweiz"), ("1010", "Österreich")],
      [codes[name] for name in ("Katrin Vogel", "Claire Dubois", "Urs Meier", "Florian Huber")])

# --strict saves nothing when a value would not go in as it stands.
store = os.path.join(work, "strict.sqlite")
strict = subprocess.run([pelkora, "import", "--strict", "--store", store,
                         os.path.join(exports, "de-geburtstag.csv")],
                        env=env, capture_output=True, text=True)
check("strict: exit", 2, strict.returncode)
listed = subprocess.run([pelkora, "contacts", "--store", store, "list"], env=env,
                        capture_output=True, text=True)
check("strict: nothing saved", "", listed.stdout.strip())

for failure in failures:
    print("FAILED:", failure)
print(f"real exports: {len(failures)} failed")
sys.exit(1 if failures else 0)
