"""What the command-line tests share: a private set of XDG folders for pelkora, checks that
collect their failures instead of stopping at the first, and running pelkora there."""
import os
import shutil
import subprocess
import sys
import tempfile


class CommandChecks:
    def __init__(self, pelkora, prefix):
        self.pelkora = pelkora
        self.work = tempfile.mkdtemp(prefix=prefix)
        self.env = dict(os.environ, LC_ALL="C.UTF-8")
        for name in ("CONFIG", "STATE", "DATA", "CACHE"):
            self.env[f"XDG_{name}_HOME"] = os.path.join(self.work, name.lower())
        self.failures = []
        self.checks = 0

    def check(self, what, expected, actual):
        self.checks += 1
        if expected != actual:
            self.failures.append(f"{what}\n  expected: {expected!r}\n  actual:   {actual!r}")

    def expect(self, what, condition, detail=""):
        self.checks += 1
        if not condition:
            self.failures.append(f"{what}\n  {detail}")

    def fail(self, what):
        self.expect(what, False)

    def run(self, *arguments, expect=0, timeout=300, command_prefix=(), env=None):
        """Runs pelkora without standard input and checks its exit status; None when it is
        still running after the timeout (a reader waiting for ever)."""
        try:
            result = subprocess.run([*command_prefix, self.pelkora, *arguments], env=env or self.env,
                                    capture_output=True, text=True, stdin=subprocess.DEVNULL,
                                    timeout=timeout)
        except subprocess.TimeoutExpired:
            self.fail(f"pelkora {' '.join(arguments)} still running after {timeout} s")
            return None
        self.check(f"exit of pelkora {' '.join(arguments)} ({result.stderr.strip()[-400:]})",
                   expect, result.returncode)
        return result

    def finish(self):
        """Removes the private folders, prints the failures and exits with the verdict."""
        shutil.rmtree(self.work, ignore_errors=True)
        for failure in self.failures:
            print("FAILED:", failure)
        print(f"{self.checks - len(self.failures)} passed, {len(self.failures)} failed")
        sys.exit(1 if self.failures else 0)
