#!/usr/bin/python3
"""Writes a file of realistic vCards for the vCard benchmark, the same file for the same
arguments: names (some with accents), two phone numbers, an e-mail address, a postal address,
CATEGORIES, now and then a note, a birthday or an organization; the producers take turns as
their exports write them: Apple's 3.0 (itemN.X-ABLabel), Google's 3.0, Thunderbird's 4.0 and
Android's 2.1 (quoted-printable for text that is not ASCII). Lines end in CRLF.

Usage: generate-vcards.py COUNT OUT.vcf
"""
import random
import sys

GIVEN = ["Anna", "Jonas", "Maja", "Lukas", "Sofia", "Elias", "Léa", "Noah", "Zoë", "Jürgen",
         "Ayşe", "Mateo", "Olu", "Yuki", "Priya", "Nils", "Renée", "Tomás", "Ingrid", "Chen"]
FAMILY = ["Berg", "Müller", "Lindqvist", "Okafor", "Dupré", "Nakamura", "García", "Novak",
          "Hansen", "Özdemir", "Rossi", "Kowalski", "Silva", "Brown", "Weber", "Andersen"]
STREETS = ["Hauptstraße", "Storgatan", "Rue de la Paix", "Main Street", "Via Roma", "Calle Mayor"]
CITIES = [("Berlin", "10115", "Germany", "de"), ("Uppsala", "753 20", "Sweden", "se"),
          ("Paris", "75002", "France", "fr"), ("Springfield", "62701", "USA", "us"),
          ("Roma", "00184", "Italy", "it"), ("Madrid", "28013", "Spain", "es")]
GROUPS = ["Friends", "Family", "Work", "Clients", "Golf", "Book club", "Neighbours", "School"]
COMPANIES = ["Nordljus AB", "Bäckerei Sonnenschein", "ACME Corp", "Studio Rossi", ""]
NOTES = ["Met at the fair", "Call after 6 pm", "Prefers e-mail, answers within a day",
         "Allergic to nuts; bring the other cake"]


def escaped(text):
    return text.replace("\\", "\\\\").replace(",", "\\,").replace(";", "\\;")


def quoted_printable(text):
    return "".join("=%02X" % b if b >= 128 or b == ord("=") else chr(b) for b in text.encode())


def person(rng, number):
    given, family = rng.choice(GIVEN), rng.choice(FAMILY)
    street = f"{rng.choice(STREETS)} {rng.randint(1, 200)}"
    city, code, country, iso = rng.choice(CITIES)
    return {
        "given": given, "family": family + ("" if number % 3 else f"-{number % 97}"),
        "mobile": f"+49 170 {number:07d}", "home": f"+49 30 {rng.randint(1000000, 9999999)}",
        "email": f"{given.lower()}.{number}@example.org".encode("ascii", "ignore").decode(),
        "street": street, "city": city, "code": code, "country": country, "iso": iso,
        "groups": rng.sample(GROUPS, rng.randint(0, 2)),
        "company": rng.choice(COMPANIES),
        "note": rng.choice(NOTES) if rng.random() < 0.25 else "",
        "birthday": f"{rng.randint(1950, 2005)}-{rng.randint(1, 12):02d}-{rng.randint(1, 28):02d}"
        if rng.random() < 0.4 else "",
    }


def apple(p):
    lines = ["VERSION:3.0", "PRODID:-//Apple Inc.//macOS 14.4.1//EN",
             f"N:{escaped(p['family'])};{escaped(p['given'])};;;", f"FN:{p['given']} {p['family']}"]
    if p["company"]:
        lines.append(f"ORG:{escaped(p['company'])};")
    lines += [f"EMAIL;type=INTERNET;type=HOME;type=pref:{p['email']}",
              f"TEL;type=CELL;type=VOICE;type=pref:{p['mobile']}",
              f"item1.TEL:{p['home']}", "item1.X-ABLabel:_$!<Home>!$_",
              f"item2.ADR;type=HOME;type=pref:;;{escaped(p['street'])};{p['city']};;{p['code']};"
              f"{p['country']}", f"item2.X-ABADR:{p['iso']}"]
    if p["birthday"]:
        lines.append(f"BDAY:{p['birthday']}")
    return lines


def google(p):
    lines = ["VERSION:3.0", "PRODID:-//Google Inc//Google Contacts//EN",
             f"FN:{p['given']} {p['family']}", f"N:{escaped(p['family'])};{escaped(p['given'])};;;",
             f"EMAIL;TYPE=INTERNET;TYPE=HOME:{p['email']}", f"TEL;TYPE=CELL:{p['mobile']}",
             f"TEL;TYPE=HOME:{p['home']}",
             f"ADR;TYPE=HOME:;;{escaped(p['street'])};{p['city']};;{p['code']};{p['country']}"]
    if p["company"]:
        lines.append(f"ORG:{escaped(p['company'])}")
    if p["birthday"]:
        lines.append(f"BDAY:{p['birthday']}")
    return lines


def thunderbird(p, number):
    lines = ["VERSION:4.0", "PRODID:-//Thunderbird//Address Book 115//EN",
             f"UID:8a3c{number:08x}-5b1c-4e8e-9a53-7c2b9f1e0a11",
             f"FN:{p['given']} {p['family']}", f"N:{escaped(p['family'])};{escaped(p['given'])};;;",
             f"EMAIL;PREF=1:{p['email']}", f"TEL;TYPE=cell;VALUE=TEXT:{p['mobile']}",
             f"TEL;TYPE=home;VALUE=TEXT:{p['home']}",
             f"ADR;TYPE=home:;;{escaped(p['street'])};{p['city']};;{p['code']};{p['country']}"]
    if p["birthday"]:
        lines.append(f"BDAY;VALUE=DATE:{p['birthday'].replace('-', '')}")
    return lines


def android(p):
    name = f"{p['family']};{p['given']};;;"
    full = f"{p['given']} {p['family']}"
    if name.isascii():
        lines = ["VERSION:2.1", f"N:{name}", f"FN:{full}"]
    else:
        lines = ["VERSION:2.1", f"N;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:{quoted_printable(name)}",
                 f"FN;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:{quoted_printable(full)}"]
    lines += [f"TEL;CELL:{p['mobile']}", f"TEL;HOME:{p['home']}", f"EMAIL;HOME:{p['email']}",
              f"ADR;HOME;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:;;{quoted_printable(p['street'])};"
              f"{p['city']};;{p['code']};{p['country']}"]
    return lines


def card(rng, number):
    p = person(rng, number)
    producer = number % 4
    if producer == 0:
        lines = apple(p)
    elif producer == 1:
        lines = google(p)
    elif producer == 2:
        lines = thunderbird(p, number)
    else:
        lines = android(p)
    if p["note"]:
        lines.append(f"NOTE:{escaped(p['note'])}")
    if p["groups"]:
        lines.append("CATEGORIES:" + ",".join(escaped(group) for group in p["groups"]))
    return "BEGIN:VCARD\r\n" + "\r\n".join(lines) + "\r\nEND:VCARD\r\n"


def main():
    count, out = int(sys.argv[1]), sys.argv[2]
    rng = random.Random(20240501)
    with open(out, "w", encoding="utf-8", newline="") as stream:
        for number in range(count):
            stream.write(card(rng, number))


if __name__ == "__main__":
    main()
