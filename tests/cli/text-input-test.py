#!/usr/bin/python3
"""Delimited text as people hand it over: through a named pipe, with stray bytes, with
backslashes in Windows account names.

`pelkora rows --json` reads each file; a named pipe must give the same rows as the file it
carries (a reader that opens its input twice would wait for ever: the run has a timeout),
devices and folders are refused by name with exit 2, a file the user may not read (run as
nobody) is reported as "permission denied", a UTF-8 file with one bad byte stays
UTF-8 and says where the byte was, and backslashes are text unless the file escapes quotes
with them.

Usage: text-input-test.py PATH/TO/pelkora TESTS-DATA-FOLDER
"""

import json
import os
import shutil
import subprocess
import sys
import tempfile
import threading
from pathlib import Path

from command_checks import CommandChecks

checks = CommandChecks(sys.argv[1], "pelkora-text-input-")
check, run, work = checks.expect, checks.run, Path(checks.work)
data = Path(sys.argv[2]) / "text-input"


def rows(path, *options):
    """The description line and the rows' cells, by row, as lists of texts."""
    result = run("rows", "--json", "--quiet", *options, str(path), timeout=60)
    if result is None or result.returncode != 0:
        return {}, [], ""
    lines = [json.loads(line) for line in result.stdout.splitlines()]
    return lines[0], [[cell[1] for cell in line["cells"]] for line in lines[1:]], result.stderr


def feed(pipe, content):
    # Opening a pipe for writing waits for the reader; a reader that never comes must not
    # keep the test alive, so the writer is a daemon thread.
    def write():
        with open(pipe, "wb") as stream:
            stream.write(content)
    thread = threading.Thread(target=write, daemon=True)
    thread.start()
    return thread


try:
    # A named pipe reads like the file whose bytes it carries, and messages use its name.
    accounts = data / "windows-accounts.csv"
    expected_description, expected_rows, _ = rows(accounts)
    pipe = work / "accounts.csv"
    os.mkfifo(pipe)
    feed(pipe, accounts.read_bytes())
    description, piped_rows, _ = rows(pipe)
    check("a named pipe gives the file's rows", piped_rows == expected_rows and piped_rows,
          f"{piped_rows} != {expected_rows}")
    check("a named pipe's text is examined like the file's",
          description.get("encoding") == expected_description.get("encoding"), str(description))

    # Devices and folders are no files to read.
    for path, reason in (("/dev/null", "is a device"), (str(work), "is a folder")):
        result = run("rows", path, expect=2)
        check(f"rows {path}: the message names the file and says why",
              result is not None and path in result.stderr and reason in result.stderr,
              result.stderr if result else "")

    # A file the user may not read is reported as that, a text file and a workbook alike, and
    # not as damaged or protected (run as nobody: root reads every file).
    nobody = ("setpriv", "--reuid=65534", "--regid=65534", "--clear-groups")
    shared = Path(tempfile.mkdtemp(prefix="pelkora-nobody-"))
    os.chmod(shared, 0o777)
    nobody_env = dict(checks.env, **{f"XDG_{name}_HOME": str(shared / name.lower())
                                     for name in ("CONFIG", "STATE", "DATA", "CACHE")})
    try:
        can_run = os.geteuid() == 0 and subprocess.run(
            [*nobody, checks.pelkora, "--version"], capture_output=True).returncode == 0
    except OSError:
        can_run = False
    if not can_run:
        print("skipped the unreadable files: setpriv cannot run pelkora as nobody here")
    for source in (accounts, data.parent / "xlsx" / "libreoffice-contacts.xlsx") if can_run else ():
        locked = shared / source.name
        shutil.copy(source, locked)
        os.chmod(locked, 0o600)
        result = run("rows", str(locked), expect=2, command_prefix=nobody, env=nobody_env)
        check(f"{source.name} unreadable: the message says permission denied",
              result is not None and "permission denied" in result.stderr.lower(),
              result.stderr if result else "")
    shutil.rmtree(shared, ignore_errors=True)

    # A UTF-8 file with one stray byte: UTF-8, the byte replaced and reported by row and column.
    description, stray_rows, stderr = rows(data / "utf8-one-stray-byte.csv")
    check("one stray byte leaves a UTF-8 file UTF-8", description.get("encoding") == "UTF-8",
          str(description))
    names = [row[0] for row in stray_rows]
    check("the accented names read as written", "Müller" in names and "Ångström" in names,
          str(names))
    check("the stray byte becomes U+FFFD", any("\ufffd" in cell for row in stray_rows
                                                for cell in row), str(stray_rows))
    check("the examination counts the replaced byte", description.get("invalidBytes") == 1,
          str(description))
    check("the stray byte is reported by row and column",
          "row 17, column 3" in stderr.lower(), stderr)

    # Backslashes: text in Windows account names, escapes only where the file escapes quotes.
    description, account_rows, _ = rows(accounts)
    check("backslashes are text by default", description.get("backslashEscapes") is False,
          str(description))
    check("DOMAIN\\user keeps its backslash",
          ["Ada", "Lovelace", "ACME\\ada", "C:\\Users\\ada\\"] in account_rows, str(account_rows))
    check("a field ending in a backslash does not swallow the delimiter",
          all(len(row) == 4 for row in account_rows), str(account_rows))
    check("a row starting with # is a row", any(row[0].startswith("#") for row in account_rows),
          str(account_rows))
    description, escaped_rows, _ = rows(data / "backslash-escaped-quotes.csv")
    check("a file escaping quotes with backslashes is read with escapes",
          description.get("backslashEscapes") is True, str(description))
    check("an escaped quote is a quote", ["Grace", 'Said "hello"'] in escaped_rows,
          str(escaped_rows))
finally:
    checks.finish()
