#!/usr/bin/python3
"""What the pelkora command writes for people and for programs.

A file can hold escape sequences; they must come out escaped in every human-readable listing,
and as JSON escapes in --json. Colour and cut columns belong to terminals only: the command is
run on pseudo-terminals of a given width (with and without NO_COLOR) and into pipes. Every
listing's --json must parse and have its documented keys.

Usage: terminal-output-test.py PATH/TO/pelkora EXAMPLES-FOLDER TEST-DATA-FOLDER
"""

import fcntl
import json
import os
import pty
import select
import shutil
import struct
import subprocess
import sys
import tempfile
import termios
import unicodedata

pelkora, examples, data = sys.argv[1:4]
work = tempfile.mkdtemp()
environment = dict(os.environ)
for name in ("XDG_CONFIG_HOME", "XDG_STATE_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME"):
    environment[name] = os.path.join(work, name.lower())
environment.pop("NO_COLOR", None)
environment.pop("COLUMNS", None)

failures = 0
checks = 0


def check(name, condition, detail=""):
    global failures, checks
    checks += 1
    if not condition:
        failures += 1
        print(f"FAILED: {name}\n  {detail}")


def piped(*arguments, extra=None):
    """Runs pelkora into pipes: (stdout bytes, stderr bytes, exit code)."""
    env = dict(environment, **(extra or {}))
    result = subprocess.run([pelkora, *arguments], capture_output=True, env=env, timeout=120)
    return result.stdout, result.stderr, result.returncode


def on_terminal(*arguments, columns=80, extra=None):
    """Runs pelkora with stdout and stderr on two pseudo-terminals `columns` wide."""
    env = dict(environment, **(extra or {}))
    masters, slaves = [], []
    for _ in range(2):
        master, slave = pty.openpty()
        fcntl.ioctl(slave, termios.TIOCSWINSZ, struct.pack("HHHH", 24, columns, 0, 0))
        attributes = termios.tcgetattr(slave)
        attributes[1] &= ~termios.ONLCR  # keep "\n" as it was written
        termios.tcsetattr(slave, termios.TCSANOW, attributes)
        masters.append(master)
        slaves.append(slave)
    process = subprocess.Popen([pelkora, *arguments], stdin=subprocess.DEVNULL,
                               stdout=slaves[0], stderr=slaves[1], env=env)
    for slave in slaves:
        os.close(slave)
    output = [b"", b""]
    open_masters = list(masters)
    while open_masters:
        ready, _, _ = select.select(open_masters, [], [], 120)
        if not ready:
            break
        for master in ready:
            try:
                chunk = os.read(master, 65536)
            except OSError:  # the other end is closed
                chunk = b""
            if chunk:
                output[masters.index(master)] += chunk
            else:
                open_masters.remove(master)
    process.wait(timeout=120)
    for master in masters:
        os.close(master)
    return output[0], output[1], process.returncode


def width(text):
    return sum(2 if unicodedata.east_asian_width(c) in "WF" else
               0 if unicodedata.combining(c) else 1 for c in text)


# A file whose cells hold a terminal title escape, a colour escape and a wide text.
hostile = os.path.join(work, "hostile.csv")
with open(hostile, "wb") as file:
    file.write(b"Name,Notes,City\r\n"
               + b"\x1b]0;pwned\x07,\x1b[31mred\x1b[0m and a long note that goes on and on,"
               + "東京都港区六本木六丁目".encode() + b"\r\n"
               + b"Anna Berg,C1 \xc2\x9b2J here,Berlin\r\n")

ESC = b"\x1b"
for command in (["rows", "--quiet", hostile], ["map", hostile]):
    name = command[0]
    out, err, status = piped(*command)
    check(f"{name} exit", status == 0, err)
    check(f"{name} piped: no escape byte", ESC not in out and ESC not in err, out)
    check(f"{name} piped: no C1 control", b"\xc2\x9b" not in out, out)
    check(f"{name} piped: the escape shown", b"\\x1b]0;pwned\\x07" in out, out)
    check(f"{name} piped: nothing cut", "東京都港区六本木六丁目".encode() in out or name == "map", out)
    out, err, status = on_terminal(*command, columns=200, extra={"NO_COLOR": "1"})
    check(f"{name} on a terminal: the escape shown", b"\\x1b]0;pwned\\x07" in out, out)
    check(f"{name} on a terminal: no escape byte in the table", ESC not in out, out)

# rows --json: the cell comes back whole through a JSON parser, with no raw control byte.
out, err, status = piped("rows", "--json", "--quiet", hostile)
lines = out.decode().splitlines()
check("rows --json: no escape byte", ESC not in out and b"\xc2\x9b" not in out, out)
try:
    cells = [json.loads(line) for line in lines]
    check("rows --json: the cell's text", cells[2]["cells"][0][1] == "\x1b]0;pwned\x07", cells[2])
    check("rows --json: C1 kept as text", "\x9b" in cells[3]["cells"][1][1], cells[3])
except (ValueError, IndexError, KeyError) as error:
    check("rows --json parses", False, str(error))
out, err, status = piped("map", "--json", hostile)
try:
    entries = json.loads(out)
    check("map --json: the example", entries[0]["example"] == "\x1b]0;pwned\x07", entries[0])
    check("map --json: status words", entries[0]["statusText"] == "mapped" and
          entries[0]["status"] == "mapping-status-assigned", entries[0])
except (ValueError, IndexError, KeyError) as error:
    check("map --json parses", False, str(error))

# Tables fit the terminal: every line of the table within the width, long cells cut with "…".
for columns in (40, 60):
    out, err, status = on_terminal("rows", "--quiet", hostile, columns=columns)
    text = out.decode()
    table = text.split("\n\n", 1)[1].splitlines()
    check(f"rows fits {columns} columns", all(width(line) <= columns for line in table),
          "\n".join(table))
    check(f"rows cut at {columns} columns", "…" in text, text)
    out, err, status = on_terminal("map", hostile, columns=columns, extra={"NO_COLOR": "1"})
    table = out.decode().split("\n\n", 1)[1].splitlines()
    check(f"map fits {columns} columns", all(width(line) <= columns for line in table),
          "\n".join(table))
out, err, status = on_terminal("rows", "--quiet", hostile, columns=0, extra={"COLUMNS": "50"})
table = out.decode().split("\n\n", 1)[1].splitlines()
check("rows takes $COLUMNS without a window size", max(width(line) for line in table) <= 50 and
      max(width(line) for line in table) > 40, "\n".join(table))

# Colour: red "pelkora:" on a terminal, none with NO_COLOR or into a pipe.
missing = os.path.join(work, "missing.csv")
out, err, status = on_terminal("rows", missing)
check("error prefix red on a terminal", err.startswith(b"\x1b[31mpelkora:\x1b[0m "), err)
for value in ("1", "yes"):
    out, err, status = on_terminal("rows", missing, extra={"NO_COLOR": value})
    check(f"NO_COLOR={value}: no escape", ESC not in err and err.startswith(b"pelkora: "), err)
out, err, status = on_terminal("rows", missing, extra={"NO_COLOR": ""})
check("empty NO_COLOR: colour", err.startswith(b"\x1b[31m"), err)
out, err, status = piped("rows", missing)
check("pipe: no colour", err.startswith(b"pelkora: ") and ESC not in err, err)
out, err, status = piped("rows", os.path.join(work, "\x1b[2Jname.csv"))
check("file name escaped in errors", ESC not in err and b"\\x1b[2Jname.csv" in err, err)

# A settings file that cannot be read is a warning: yellow on a terminal, plain in a pipe.
settings_folder = os.path.join(environment["XDG_CONFIG_HOME"], "pelkora")
os.makedirs(settings_folder, exist_ok=True)


def break_settings():  # the store sets a file it cannot read aside, so each run needs one
    with open(os.path.join(settings_folder, "settings.plist"), "wb") as file:
        file.write(b"not a property list")


break_settings()
out, err, status = on_terminal("settings", "get", "TrustBOMs")
check("warning prefix yellow on a terminal", err.startswith(b"\x1b[33mpelkora: warning:\x1b[0m "), err)
break_settings()
out, err, status = piped("settings", "get", "TrustBOMs")
check("warning prefix plain in a pipe", err.startswith(b"pelkora: warning: settings: "), err)

# Every listing's --json parses and has its documented keys.
workbook = os.path.join(examples, "contacts.xlsx")
listings = [
    (["sheets", "--json", workbook], {"id", "name"}),
    (["encodings", "--json"], {"title", "name"}),
    (["catalogue", "--json"], {"tag", "title", "propertyKey", "propertySubKey"}),
    (["catalogue", "--json", "--labels", "phoneNumbers"], {"label", "title"}),
    (["vocabulary", "--json", "--lang", "de", "--find", "Telefon"],
     {"language", "title", "kind", "propertyKey", "propertySubKey", "label", "vendor"}),
    (["dates", "list", "--json"], {"format", "locale", "custom"}),
    (["settings", "list", "--json"], {"key", "value", "stored"}),
    (["open", "--json", os.path.join(examples, "contacts.csv")], {"file", "type"}),
]
for command, keys in listings:
    name = " ".join(command[:2])
    out, err, status = piped(*command)
    try:
        items = json.loads(out)
        check(f"{name}: items", isinstance(items, list) and len(items) > 0, out[:200])
        check(f"{name}: keys", all(keys <= set(item) for item in items), items[:2])
    except ValueError as error:
        check(f"{name} parses", False, f"{error}: {out[:200]!r}")

out, err, status = piped("catalogue", "--json", "--labels", "phoneNumbers")
labels = [item["label"] for item in json.loads(out)]
check("phone label menu without device labels",
      "iPhone" not in labels and "_$!<AppleWatch>!$_" not in labels and "_$!<Mobile>!$_" in labels,
      labels)
out, err, status = piped("catalogue", "--labels", "emailAddresses")
check("e-mail label menu without iCloud", b"iCloud" not in out and b"_$!<Work>!$_" in out, out)
out, err, status = piped("open", "--json", workbook)
check("open --json: workbook", json.loads(out)[0]["type"] == "workbook", out)

shutil.rmtree(work, ignore_errors=True)
print(f"{checks} checks, {failures} failures")
sys.exit(1 if failures else 0)
