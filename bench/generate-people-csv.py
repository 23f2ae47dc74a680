#!/usr/bin/python3
"""Writes a plain table of people for the address-book benchmarks: seven columns (names, company,
e-mail, mobile, birthday, one group), one row per person, every name unique, the same bytes for
the same count.

Usage: generate-people-csv.py OUTPUT ROWS
"""
import random
import sys

path, count = sys.argv[1], int(sys.argv[2])
rng = random.Random(7)
first = ["Ada", "Alan", "Grace", "Linus", "Margaret", "Ken", "Barbara", "Dennis", "Frances", "Edsger"]
last = ["Lovelace", "Turing", "Hopper", "Torvalds", "Hamilton", "Thompson", "Liskov", "Ritchie"]
groups = ["Friends", "Work", "Family", "Customers"]
with open(path, "w", encoding="utf-8") as out:
    out.write("First Name,Last Name,Company,E-mail,Mobile,Birthday,Groups\n")
    for row in range(count):
        f, l = rng.choice(first), rng.choice(last)
        out.write(f"{f},{l} {row},Example {row % 97},{f.lower()}.{row}@example.org,"
                  f"+44 20 {row:07d},19{rng.randint(40, 99)}-0{rng.randint(1, 9)}-1{rng.randint(0, 9)},"
                  f"{rng.choice(groups)}\n")
