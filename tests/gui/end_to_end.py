#!/usr/bin/python3
"""pelkora-gui used as a person would: on an X server of its own (Xvfb) with a session bus of
its own, started with examples/contacts.csv, driven with the keyboard alone (xdotool) through
the encoding and field-mapping pages to the import into the default address book the command
chose (a vCard folder), then checked with `pelkora contacts list`.
A second pelkora-gui started meanwhile with a vCard file must hand it to the first window and
exit at once, without a window of its own.

Usage: end_to_end.py --gui PELKORA_GUI --cli PELKORA --examples DIR --services DBUS_SERVICES_DIR
Exits 77 (skipped) only when no X server can be started.
"""

import argparse
import csv
import json
import os
import re
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import urllib.parse
from xml.sax.saxutils import escape

SKIPPED = 77
TIMEOUT = 20.0  # seconds for any one step; each normally takes well under one


# A session bus like the desktop's, with the build tree's service files.
BUS_CONFIG = """<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:tmpdir={folder}</listen>
  <servicedir>{services}</servicedir>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
"""


class Failure(Exception):
    pass


def wait_for(what, condition, timeout=TIMEOUT, interval=0.05):
    """Polls condition() until it returns something true, and returns that."""
    deadline = time.monotonic() + timeout
    while True:
        value = condition()
        if value:
            return value
        if time.monotonic() > deadline:
            raise Failure(f"timed out after {timeout:.0f} s waiting for {what}")
        time.sleep(interval)


def read_line(stream, timeout):
    """One line of a child's output, or None when none comes in time."""
    ready, _, _ = select.select([stream], [], [], timeout)
    return stream.readline() if ready else None


class Desktop:
    """Xvfb, a session bus and the programs started on them; stop() ends all of them."""

    def __init__(self, home):
        self.home = home
        self.children = []
        self.strangers = []  # programs the bus started for the test: not children of it
        self.env = {key: value for key, value in os.environ.items()
                    if key not in ("WAYLAND_DISPLAY", "DESKTOP_STARTUP_ID",
                                   "XDG_ACTIVATION_TOKEN", "SESSION_MANAGER")}
        for variable in ("XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_STATE_HOME",
                         "XDG_CACHE_HOME", "HOME"):
            self.env[variable] = home
        runtime = os.path.join(home, "runtime")
        os.mkdir(runtime, 0o700)
        self.env["XDG_RUNTIME_DIR"] = runtime
        self.env["QT_QPA_PLATFORM"] = "xcb"
        self.env["LC_ALL"] = "C.UTF-8"

    def start(self, command, **options):
        child = subprocess.Popen(command, env=self.env, **options)
        self.children.append(child)
        return child

    def start_x_server(self):
        """Starts Xvfb on a display it picks itself; False when it cannot run here."""
        if not shutil.which("Xvfb"):
            print("SKIP: Xvfb is not installed (Debian package xvfb)")
            return False
        read_end, write_end = os.pipe()
        try:
            server = self.start(["Xvfb", "-displayfd", str(write_end), "-screen", "0",
                                 "1280x1024x24", "-nolisten", "tcp", "-noreset"],
                                pass_fds=(write_end,), stdout=subprocess.DEVNULL,
                                stderr=subprocess.PIPE)
        finally:
            os.close(write_end)
        with os.fdopen(read_end) as numbers:
            display = read_line(numbers, TIMEOUT)
        if not display or not display.strip().isdigit():
            server.kill()
            message = server.communicate()[1].decode(errors="replace").strip()
            print(f"SKIP: Xvfb did not start: {message[-500:]}")
            return False
        self.env["DISPLAY"] = ":" + display.strip()
        return True

    def start_session_bus(self, services):
        """A session bus that starts the programs of the service files in `services`."""
        config = os.path.join(self.home, "session-bus.conf")
        with open(config, "w", encoding="utf-8") as text:
            text.write(BUS_CONFIG.format(folder=escape(self.home), services=escape(services)))
        bus = self.start(["dbus-daemon", "--config-file", config, "--nofork", "--nopidfile",
                          "--print-address=1"], stdout=subprocess.PIPE, text=True)
        address = read_line(bus.stdout, TIMEOUT)
        if not address:
            raise Failure("dbus-daemon did not print its address")
        self.env["DBUS_SESSION_BUS_ADDRESS"] = address.strip()

    def stop(self):
        for pid in self.strangers:
            try:
                os.kill(pid, signal.SIGTERM)
                wait_for(f"process {pid} to end", lambda: not os.path.exists(f"/proc/{pid}"), 5)
            except ProcessLookupError:
                pass
            except Failure:
                os.kill(pid, signal.SIGKILL)
        for child in reversed(self.children):
            if child.poll() is None:
                child.terminate()
        for child in reversed(self.children):
            try:
                child.wait(5)
            except subprocess.TimeoutExpired:
                child.kill()
                child.wait()

    def xdotool(self, *arguments, check=True):
        result = subprocess.run(["xdotool", *arguments], env=self.env, capture_output=True,
                                text=True, timeout=TIMEOUT)
        if check and result.returncode != 0:
            raise Failure(f"xdotool {' '.join(arguments)}: {result.stderr.strip()}")
        return result.stdout.split()

    def visible_windows(self, pattern):
        """Mapped windows whose name matches the regular expression."""
        return self.xdotool("search", "--onlyvisible", "--name", pattern, check=False)

    def window_name(self, window):
        result = subprocess.run(["xdotool", "getwindowname", window], env=self.env,
                                capture_output=True, text=True, timeout=TIMEOUT)
        return result.stdout.strip()

    def press(self, window, keys):
        """Types keys into the window as the keyboard would, once it has the focus (there is
        no window manager to give it)."""
        self.xdotool("windowfocus", "--sync", window)
        self.xdotool("key", "--clearmodifiers", keys)


def title(page):
    return f"{page} — Pelkora"


def wait_for_exit(process, what):
    """Waits for a program to end and fails unless it ended with 0."""
    try:
        status = process.wait(TIMEOUT)
    except subprocess.TimeoutExpired:
        raise Failure(f"{what} is still running") from None
    if status != 0:
        raise Failure(f"{what} exited with {status}")


def wait_for_title(desktop, window, page, gui):
    def shown():
        if gui.poll() is not None:
            raise Failure(f"pelkora-gui exited with {gui.returncode} before '{page}'")
        return desktop.window_name(window) == title(page)
    try:
        wait_for(f"the page '{page}'", shown)
    except Failure as failure:
        raise Failure(f"{failure}; the window shows '{desktop.window_name(window)}'") from None


def expected_contacts(path):
    with open(path, encoding="utf-8", newline="") as rows:
        return sorted((row["First Name"], row["Last Name"], row["Company"], row["E-mail"])
                      for row in csv.DictReader(rows))


def imported_contacts(desktop, cli):
    result = subprocess.run([cli, "contacts", "list", "--json"], env=desktop.env,
                            capture_output=True, text=True, timeout=TIMEOUT)
    if result.returncode != 0:
        raise Failure(f"pelkora contacts list: exit {result.returncode}: {result.stderr}")
    return sorted((contact.get("givenName", ""), contact.get("familyName", ""),
                   contact.get("organizationName", ""),
                   (contact.get("emailAddresses") or [{}])[0].get("value", ""))
                  for contact in json.loads(result.stdout))


def run(desktop, options):
    if not desktop.start_x_server():
        return SKIPPED
    desktop.start_session_bus(options.services)

    # 0. The address book is a folder of vCard files, chosen as the default with the command,
    #    as a user of vdirsyncer or khard would: the window imports into it too.
    cards = os.path.join(desktop.home, "cards")
    chosen = subprocess.run([options.cli, "stores", "default", "vdir:" + cards], env=desktop.env,
                            capture_output=True, text=True, timeout=TIMEOUT)
    if chosen.returncode != 0:
        raise Failure(f"pelkora stores default: exit {chosen.returncode}: {chosen.stderr}")

    # 1. Started from the examples folder with the file's name, as from a terminal.
    examples = options.examples
    gui = desktop.start([options.gui, "contacts.csv"], cwd=examples)
    window = wait_for("the window", lambda: desktop.visible_windows("^Text Encoding"))
    window = window[0]

    # 2. Continue on the encoding page with Return (the page's default button, while the
    #    focus is on the encoding pop-up), then on the field-mapping page with Alt+C (the
    #    button's mnemonic).
    desktop.press(window, "Return")
    wait_for_title(desktop, window, "Field Mapping", gui)
    # The columns are mapped on the page's own queue, and Continue waits for them (seconds
    # under a sanitizer on a busy machine): the log says when they are.
    log = os.path.join(desktop.home, "pelkora", "logs", "runtime.log")

    def mapped():
        try:
            with open(log, encoding="utf-8", errors="replace") as text:
                return "Auto-mapping fields took" in text.read()
        except OSError:
            return False
    wait_for("the columns to be mapped", mapped)
    desktop.press(window, "alt+c")
    wait_for_title(desktop, window, "Import", gui)

    # 3. Return presses Import (the page's focused default button); the outcome comes as an
    #    alert of the program's own, whose OK answers Return too.
    desktop.press(window, "Return")
    alert = wait_for("the outcome alert", lambda: [
        shown for shown in desktop.visible_windows("^Pelkora$")
        if desktop.xdotool("getwindowpid", shown, check=False) == [str(gui.pid)]])
    desktop.press(alert[0], "Return")
    wait_for("the alert to go", lambda: not desktop.visible_windows("^Pelkora$"))
    expected = expected_contacts(os.path.join(examples, "contacts.csv"))
    imported = imported_contacts(desktop, options.cli)
    if imported != expected:
        missing = sorted(set(expected) - set(imported))
        extra = sorted(set(imported) - set(expected))
        raise Failure(f"the address book differs from contacts.csv: missing {missing}, "
                      f"not in the file {extra}")
    written = [name for _, _, names in os.walk(cards) for name in names if name.endswith(".vcf")]
    if len(written) != len(expected):
        raise Failure(f"{len(written)} vCard files in {cards}, not {len(expected)}")
    print(f"{len(imported)} contacts imported into the vCard folder, as in contacts.csv")

    # 4. A second program with a vCard file: the first window takes it, the second exits
    #    at once and never maps a window.
    started = time.monotonic()
    # Named from the folder above, so that the first program finds the file only when the
    # second resolved it against its own working folder.
    parent, folder = os.path.split(os.path.abspath(examples))
    second = desktop.start([options.gui, os.path.join(folder, "contacts.vcf")], cwd=parent)
    wait_for_exit(second, "the second pelkora-gui")
    print(f"second pelkora-gui handed its file over in {time.monotonic() - started:.2f} s")
    wait_for_title(desktop, window, "vCard Scan", gui)
    for shown in desktop.visible_windows("Pelkora"):
        owner = desktop.xdotool("getwindowpid", shown)
        if owner != [str(gui.pid)]:
            raise Failure(f"window '{desktop.window_name(shown)}' of process {owner} is up")

    # 5. Ctrl+Q ends the program; then a launcher that goes through the bus (the desktop
    #    file is D-Bus activatable) has the bus start it from the service file.
    desktop.press(window, "ctrl+q")
    wait_for_exit(gui, "pelkora-gui after Ctrl+Q")
    activate_by_bus(desktop, os.path.join(examples, "contacts.vcf"))
    return 0


def gdbus(desktop, destination, path, method, *arguments):
    """Calls a method on the test's bus; returns gdbus's output, or raises on an error."""
    result = subprocess.run(["gdbus", "call", "--address", desktop.env["DBUS_SESSION_BUS_ADDRESS"],
                             "--dest", destination, "--object-path", path,
                             "--timeout", str(int(TIMEOUT)), "--method", method, *arguments],
                            env=desktop.env, capture_output=True, text=True, timeout=TIMEOUT + 5)
    if result.returncode != 0:
        raise Failure(f"{method}: {result.stderr.strip()}")
    return result.stdout


def activate_by_bus(desktop, vcard):
    uri = "file://" + urllib.parse.quote(os.path.abspath(vcard))
    try:
        gdbus(desktop, "org.pelkora.Pelkora", "/org/pelkora/Pelkora",
              "org.freedesktop.Application.Open", f"['{uri}']", "{}")
    finally:
        # Whatever the bus started is stopped at the end, answer or not.
        owner = subprocess.run(["gdbus", "call", "--address",
                                desktop.env["DBUS_SESSION_BUS_ADDRESS"], "--dest",
                                "org.freedesktop.DBus", "--object-path", "/org/freedesktop/DBus",
                                "--method", "org.freedesktop.DBus.GetConnectionUnixProcessID",
                                "org.pelkora.Pelkora"], env=desktop.env, capture_output=True,
                               text=True, timeout=TIMEOUT)
        pid = re.search(r"uint32 (\d+)", owner.stdout)
        if pid:
            desktop.strangers.append(int(pid.group(1)))
    if not desktop.strangers:
        raise Failure("nobody owns org.pelkora.Pelkora after Open")
    pid = desktop.strangers[-1]
    program = os.path.basename(os.readlink(f"/proc/{pid}/exe"))
    if program != "pelkora-gui":
        raise Failure(f"the bus started {program} for org.pelkora.Pelkora")
    window = wait_for("the window the bus started", lambda: desktop.visible_windows("^vCard Scan"))
    if desktop.xdotool("getwindowpid", window[0]) != [str(pid)]:
        raise Failure("the vCard Scan window belongs to another program")
    print(f"the bus started pelkora-gui ({pid}) for Open")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--gui", required=True)
    parser.add_argument("--cli", required=True)
    parser.add_argument("--examples", required=True)
    parser.add_argument("--services", required=True,
                        help="folder of the D-Bus service file naming the built pelkora-gui")
    options = parser.parse_args()
    for tool in ("xdotool", "dbus-daemon", "gdbus"):
        if not shutil.which(tool):
            print(f"FAIL: {tool} is not installed (scripts/install-deps --tests)")
            return 1
    started = time.monotonic()
    home = tempfile.mkdtemp(prefix="pelkora-gui-e2e-")
    desktop = Desktop(home)
    try:
        status = run(desktop, options)
    except Failure as failure:
        print(f"FAIL: {failure}")
        log = os.path.join(home, "pelkora", "logs", "runtime.log")
        if os.path.exists(log):
            with open(log, encoding="utf-8", errors="replace") as text:
                print("runtime log:", *text.readlines()[-30:], sep="\n  ")
        status = 1
    finally:
        desktop.stop()
        shutil.rmtree(home, ignore_errors=True)
    print(f"finished in {time.monotonic() - started:.1f} s")
    return status


if __name__ == "__main__":
    sys.exit(main())
