#!/usr/bin/python3
"""Writes a realistic contact export for the text reader's benchmarks.

The file has a header row and 20 columns, CRLF line ends, non-ASCII names, quoted fields
holding commas, doubled quotes and line breaks, groups lists and birthdays in two notations:
the mix a desktop address book or a CRM exports. The output depends only on the seed and the
size, so two runs with the same arguments give the same bytes.

The size counts the UTF-8 bytes of the content; with --encoding utf-16le the same rows are
written as UTF-16LE with a byte-order mark (so that file is about twice as large), which lets
a benchmark compare the two encodings on identical content.

Usage: generate-contacts-csv.py OUTPUT [--size 100M] [--encoding utf-8|utf-16le] [--seed N]
"""

import argparse
import random
import sys

HEADER = [
    "First Name", "Last Name", "Company", "Job Title", "E-mail Address", "E-mail 2 Address",
    "Business Phone", "Mobile Phone", "Business Street", "Business Postal Code",
    "Business City", "Business Country", "Birthday", "Anniversary", "Categories", "Notes",
    "Nickname", "Department", "Web Page", "Customer ID",
]

FIRST_NAMES = [
    "Anna", "Jürgen", "Zoë", "Łukasz", "Mohammed", "Siobhán", "Chloé", "Björn", "Ana María",
    "Nguyễn", "Olga", "John", "Søren", "Ines", "Ødegaard", "Małgorzata", "François", "Emma",
    "Noah", "Ελένη", "Дмитрий", "Ayşe", "Kenji", "Priya",
]
LAST_NAMES = [
    "Müller", "O'Brien", "García Márquez", "Smith", "Dvořák", "Åberg", "Nakamura", "Kowalski",
    "van der Berg", "Brown", "Schäfer", "Wiśniewski", "Lefèvre", "Jansen", "Öztürk",
    "Papadopoulos", "Иванов", "Núñez", "Weiß", "Nguyen",
]
# Values with a delimiter or a quote are written quoted, as every exporter does.
COMPANIES = [
    "Acme Corp", "Müller & Söhne, GmbH", "Globex", "Initech, Inc.", "Umbrella",
    'The "Best" Widgets', "Łódź Logistics Sp. z o.o.", "", "Café Zoë", "Northwind Traders",
]
JOB_TITLES = [
    "Sales Manager", "Software Engineer", "CEO", "Head of Marketing, EMEA", "Assistant",
    "Geschäftsführer", "", "Product Owner", "Buyer", "Consultant",
]
STREETS = [
    "Hauptstraße", "Main Street", "Rue de la Paix", "ul. Marszałkowska", "Bahnhofstr.",
    "Königsallee", "High Street", "Calle Mayor", "Storgatan", "Kurfürstendamm",
]
CITIES = [
    ("10115", "Berlin", "Germany"), ("80331", "München", "Germany"),
    ("10001", "New York", "United States"), ("30-001", "Kraków", "Poland"),
    ("01310-100", "São Paulo", "Brazil"), ("8001", "Zürich", "Switzerland"),
    ("75002", "Paris", "France"), ("SW1A 1AA", "London", "United Kingdom"),
    ("111 22", "Stockholm", "Sweden"), ("1010", "Wien", "Austria"),
]
GROUPS = ["Friends", "Work", "Friends, Work", "Family", "", "Customers, VIP", "Newsletter"]
NOTES = [
    "",
    "",
    "Prefers e-mail",
    "Met at the fair, booth 12.\r\nCall back in \"Q3\".",
    "Line one\r\nLine two, with comma\r\nLine three",
    'VIP; birthday card "every year"',
    "Allergic to nuts. Ask about the \"special\" menu, not the usual one.",
    "Zoë's assistant: Łukasz, +48 12 345 67 89\r\n\r\nAfter 3 pm only",
    "Spricht Deutsch, Englisch und ein wenig Französisch.",
]
DEPARTMENTS = ["Vertrieb", "Sales", "R&D", "", "Einkauf", "IT", "Human Resources"]
# Folds the Latin letters of the names to ASCII for e-mail addresses; other scripts stay.
ASCII_FOLD = str.maketrans({
    "ä": "ae", "ö": "oe", "ü": "ue", "ß": "ss", "é": "e", "è": "e", "ç": "c", "å": "a",
    "ø": "o", "ł": "l", "ś": "s", "ń": "n", "ó": "o", "í": "i", "á": "a", "ñ": "n",
    "ã": "a", "õ": "o", "ě": "e", "ř": "r", "ž": "z", "ễ": "e", "ë": "e", "ş": "s",
    "ú": "u", "'": "", " ": ".",
})


def quoted(value):
    """Quotes a field when it holds a delimiter, a quote or a line break."""
    if any(c in value for c in ',"\r\n'):
        return '"' + value.replace('"', '""') + '"'
    return value


def mail_name(first, last):
    """Makes an address-like local part; non-Latin names keep their letters (IDN style)."""
    return (first + "." + last).lower().translate(ASCII_FOLD).replace("..", ".")


def make_row(rng, number):
    first = rng.choice(FIRST_NAMES)
    last = rng.choice(LAST_NAMES)
    postal, city, country = rng.choice(CITIES)
    year, month, day = rng.randint(1940, 2005), rng.randint(1, 12), rng.randint(1, 28)
    # Exporters disagree on date notation: ISO in one column, German day.month.year in the
    # other, and sometimes the other way round in the same column.
    iso = f"{year:04d}-{month:02d}-{day:02d}"
    german = f"{day:02d}.{month:02d}.{year:04d}"
    birthday, anniversary = (iso, german) if number % 3 else (german, iso)
    phone = f"+49 30 {rng.randint(1000000, 9999999)}"
    mobile = f"+1 (555) {rng.randint(100, 999)}-{rng.randint(1000, 9999)}"
    local = mail_name(first, last)
    fields = [
        first,
        last,
        rng.choice(COMPANIES),
        rng.choice(JOB_TITLES),
        f"{local}{number}@example.com",
        f"{local}@mail.example.org" if number % 4 == 0 else "",
        phone,
        mobile,
        f"{rng.choice(STREETS)} {rng.randint(1, 250)}, Hof {rng.randint(1, 4)}",
        postal,
        city,
        country,
        birthday,
        anniversary if number % 5 == 0 else "",
        rng.choice(GROUPS),
        rng.choice(NOTES),
        first.split(" ")[0],
        rng.choice(DEPARTMENTS),
        f"https://example.com/people/{number}",
        f"C-{number:08d}",
    ]
    return ",".join(quoted(field) for field in fields) + "\r\n"


def parse_size(text):
    units = {"K": 1000, "M": 1000**2, "G": 1000**3}
    text = text.strip().upper()
    if text and text[-1] in units:
        return int(float(text[:-1]) * units[text[-1]])
    return int(text)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("output", help="file to write ('-' for standard output)")
    parser.add_argument("--size", default="100M",
                        help="UTF-8 content size, e.g. 5M, 100M, 1G (default 100M)")
    parser.add_argument("--encoding", default="utf-8", choices=["utf-8", "utf-16le"])
    parser.add_argument("--seed", type=int, default=20240611)
    args = parser.parse_args()

    target = parse_size(args.size)
    rng = random.Random(args.seed)
    out = sys.stdout.buffer if args.output == "-" else open(args.output, "wb")
    utf16 = args.encoding == "utf-16le"
    if utf16:
        out.write(b"\xff\xfe")
    written = 0
    rows = 0
    chunk = [",".join(quoted(title) for title in HEADER) + "\r\n"]
    # Rows are encoded a few thousand at a time: one write per row would dominate the runtime.
    while True:
        while len(chunk) < 4096:
            chunk.append(make_row(rng, rows + len(chunk)))
        text = "".join(chunk)
        data = text.encode("utf-8")
        if written + len(data) >= target:
            # Stop at the row that reaches the target, so the size is close to the request.
            for line in chunk:
                line_bytes = line.encode("utf-8")
                out.write(line.encode("utf-16-le") if utf16 else line_bytes)
                written += len(line_bytes)
                rows += 1
                if written >= target:
                    break
            break
        out.write(text.encode("utf-16-le") if utf16 else data)
        written += len(data)
        rows += len(chunk)
        chunk = []
    if out is not sys.stdout.buffer:
        out.close()
    print(f"{args.output}: {rows - 1} contacts, {written} bytes of UTF-8 content, "
          f"{args.encoding}", file=sys.stderr)


if __name__ == "__main__":
    main()
