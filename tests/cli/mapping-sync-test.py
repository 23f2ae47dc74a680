#!/usr/bin/python3
"""Saved mappings shared between two computers, played by two sets of XDG folders, through a
sync folder and through a WebDAV server (Apache with mod_dav over TLS, started here):

- sharing switched on with three local mappings uploads them in one batch (the log says 3);
  the other computer's local mapping of the same uuid overwrites the shared one's title;
- a mapping saved on one computer reaches the other's `mappings watch` within 2 s (through
  the folder's change pushes, or polling the server), a deletion too;
- a sync tool's conflict copy resolves to the newer one, the other set aside;
- the server's 401, 403 and a server that is down each refuse sharing with their own words;
- status only looks; disable keeps the shared mappings in the local file.

Usage: mapping-sync-test.py PATH/TO/pelkora PATH/TO/webdav-server.sh
"""
import datetime
import json
import os
import plistlib
import queue
import re
import shutil
import subprocess
import sys
import threading
import time

from command_checks import CommandChecks

pelkora, server_script = sys.argv[1], sys.argv[2]
checks = CommandChecks(pelkora, "pelkora-sync-")
check, expect, work = checks.check, checks.expect, checks.work
os.chmod(work, 0o711)  # the WebDAV server's workers (www-data) reach their folder through it


class Computer:
    """One computer: its own XDG folders, running pelkora there."""

    def __init__(self, name, extra=None):
        self.name = name
        self.env = dict(os.environ, LC_ALL="C.UTF-8", **(extra or {}))
        self.env.pop("DBUS_SESSION_BUS_ADDRESS", None)  # no Secret Service: the variable is used
        for folder in ("CONFIG", "STATE", "DATA", "CACHE"):
            self.env[f"XDG_{folder}_HOME"] = os.path.join(work, name, folder.lower())

    def run(self, *arguments, expect=0):
        return checks.run(*arguments, expect=expect, env=self.env)

    def titles(self):
        result = self.run("mappings", "list", "--json")
        try:
            return sorted(mapping["title"] for mapping in json.loads(result.stdout))
        except (ValueError, AttributeError):
            checks.fail(f"{self.name}: mappings list printed no JSON")
            return []

    def log(self):
        path = os.path.join(self.env["XDG_STATE_HOME"], "pelkora", "logs", "runtime.log")
        with open(path, encoding="utf-8", errors="replace") as text:
            return text.read()


class Watch:
    """`pelkora mappings watch` running on a computer, its lines collected as they come."""

    def __init__(self, computer):
        self.lines = queue.Queue()
        self.process = subprocess.Popen([pelkora, "mappings", "watch"], env=computer.env,
                                        stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                        stdin=subprocess.DEVNULL, text=True)
        threading.Thread(target=self._read, daemon=True).start()
        first = self.next_line(10)
        expect(f"{computer.name}: watch starts", first and first.startswith("Watching"), first)

    def _read(self):
        for line in self.process.stdout:
            self.lines.put(line.rstrip("\n"))

    def next_line(self, timeout):
        try:
            return self.lines.get(timeout=timeout)
        except queue.Empty:
            return None

    def wait_for(self, pattern, timeout):
        """Seconds until a line matching the pattern came, or None."""
        start = time.monotonic()
        while (left := timeout - (time.monotonic() - start)) > 0:
            line = self.next_line(left)
            if line and re.search(pattern, line):
                return time.monotonic() - start
        return None

    def stop(self):
        self.process.terminate()
        try:
            self.process.wait(10)
        except subprocess.TimeoutExpired:
            self.process.kill()
        check("watch exits 0 on SIGTERM", 0, self.process.returncode)


def write(name, text):
    path = os.path.join(work, name)
    with open(path, "w", encoding="utf-8") as out:
        out.write(text)
    return path


contacts = write("contacts.csv", "First Name,Last Name,Mobil\nAda,Lovelace,+44 1\n")


def two_computers(label, enable_a, enable_b, push_timeout, extra=None):
    """The shared scenario on two fresh computers; returns them."""
    a = Computer(f"{label}-a", extra)
    b = Computer(f"{label}-b", extra)
    for title in ("Shop", "Bank", "Club"):
        a.run("mappings", "save", title, contacts)
    exported = os.path.join(work, f"{label}-shop.zubmapping")
    a.run("mappings", "export", exported, "Shop")
    b.run("mappings", "import", exported)
    b.run("mappings", "rename", "Shop", "Shop from B")

    a.run(*enable_a)
    expect(f"{label}: the three local mappings go up in one batch",
           "3 locally stored mappings synced to" in a.log(), a.log()[-600:])
    b.run(*enable_b)
    check(f"{label}: B's local mapping of the same uuid overwrote the shared one",
          ["Bank", "Club", "Shop from B"], b.titles())
    check(f"{label}: A reads the shared mappings", ["Bank", "Club", "Shop from B"], a.titles())
    status = b.run("mappings", "sync", "status", "--json")
    expect(f"{label}: status says shared", status and '"mode": "shared"' in status.stdout,
           status and status.stdout)

    watch_b = Watch(b)
    watch_a = Watch(a)
    a.run("mappings", "save", "Fresh", contacts)
    seconds = watch_b.wait_for("^added “Fresh”", push_timeout)
    expect(f"{label}: a mapping saved in A reaches B's watch within {push_timeout} s",
           seconds is not None, "no line came")
    b.run("mappings", "delete", "--yes", "Bank")
    seconds = watch_a.wait_for("^deleted “Bank”", push_timeout)
    expect(f"{label}: a mapping deleted in B leaves A's watch within {push_timeout} s",
           seconds is not None, "no line came")
    watch_a.stop()
    watch_b.stop()
    check(f"{label}: A's list", ["Club", "Fresh", "Shop from B"], a.titles())
    return a, b


# Through a sync folder.
synced = os.path.join(work, "Sync")
os.makedirs(synced)
a, b = two_computers("folder", ["mappings", "sync", "enable", "--folder", synced],
                     ["mappings", "sync", "enable", "--folder", synced], 2)

# A sync tool's conflict copy: the newer one wins, the older is set aside.
zone = os.path.join(synced, "Pelkora Mappings")
records = {}
for name in os.listdir(zone):
    if name.endswith(".plist"):
        with open(os.path.join(zone, name), "rb") as data:
            records[name] = plistlib.load(data)
club_file = next(name for name, fields in records.items() if fields.get("title") == "Club")
newer = dict(records[club_file], title="Club renamed elsewhere",
             updatedOn=datetime.datetime.now(datetime.timezone.utc).replace(tzinfo=None)
             + datetime.timedelta(minutes=5))
copy_name = club_file.replace(".plist", " (conflicted copy 2026-12-07 101010).plist")
with open(os.path.join(zone, copy_name), "wb") as out:
    plistlib.dump(newer, out, fmt=plistlib.FMT_BINARY)
a.run("mappings", "sync", "refresh")
check("the conflict copy's newer title wins", ["Club renamed elsewhere", "Fresh", "Shop from B"],
      a.titles())
check("no conflict copy is left in the sync folder", [],
      [name for name in os.listdir(zone) if "conflicted copy" in name])
superseded = os.path.join(a.env["XDG_DATA_HOME"], "pelkora", "Superseded Mappings")
expect("the older copy is kept outside the sync folder",
       os.path.isdir(superseded) and os.listdir(superseded), superseded)

# Status only looks; disable keeps the shared list in the local file.
before = sorted(os.listdir(zone))
a.run("mappings", "sync", "status")
check("status changes nothing in the sync folder", before, sorted(os.listdir(zone)))
a.run("mappings", "sync", "disable")
check("after disable the local file holds the shared mappings",
      ["Club renamed elsewhere", "Fresh", "Shop from B"], a.titles())
status = a.run("mappings", "sync", "status", "--json")
expect("status says sharing is off", status and '"sharing": false' in status.stdout)
missing = a.run("mappings", "sync", "enable", "--folder", os.path.join(work, "nowhere"), expect=3)
expect("a missing folder is refused with its words",
       missing and "Choose a sync folder" in missing.stderr, missing and missing.stderr)

# Through a WebDAV server.
server = os.path.join(work, "server")
started = subprocess.run(["bash", server_script, "start", server], capture_output=True, text=True)
if started.returncode != 0:
    print(f"SKIPPED the WebDAV part: the server could not start: {started.stderr.strip()}")
else:
    try:
        def read(name):
            with open(os.path.join(server, name), encoding="utf-8") as text:
                return text.read().strip()

        url, ca = read("url"), os.path.join(server, "ca.pem")
        extra = {"PELKORA_WEBDAV_PASSWORD": "secret1", "PELKORA_SYNC_POLL_MS": "300"}
        enable = ["mappings", "sync", "enable", "--webdav", url, "--user", "ada", "--ca-file", ca]
        two_computers("webdav", enable, enable, 5, extra)

        c = Computer("webdav-c", dict(extra, PELKORA_WEBDAV_PASSWORD="wrong"))
        refused = c.run(*enable, expect=3)
        expect("401: sign in", refused and "Sign in to the WebDAV server" in refused.stderr,
               refused and refused.stderr)
        c.env["PELKORA_WEBDAV_PASSWORD"] = "secret1"
        refused = c.run("mappings", "sync", "enable", "--webdav", read("forbidden-url"),
                        "--user", "ada", "--ca-file", ca, expect=3)
        expect("403: denied", refused and "is denied" in refused.stderr, refused and refused.stderr)
        subprocess.run(["bash", server_script, "stop", server], check=False)
        refused = c.run(*enable, expect=3)
        expect("server down: the network", refused and "network" in refused.stderr,
               refused and refused.stderr)
        listed = c.run("mappings", "list")
        expect("with the server down the local mappings still list", listed is not None)
    finally:
        subprocess.run(["bash", server_script, "stop", server], check=False)

checks.finish()
