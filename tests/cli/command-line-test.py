#!/usr/bin/python3
"""The pelkora command line itself: help per command, option syntax (--opt=value, --, -V,
-v anywhere), usage errors with exit code 2, "-" for standard input and output, the checks
of --row, --lang and --sheet, and the generated manual pages and completions (checked by
groff, bash, zsh and fish) installed by `cmake --install`.

Usage: command-line-test.py PATH/TO/pelkora EXAMPLES-FOLDER BUILD-FOLDER
"""
import os
import re
import shutil
import subprocess
import sys
import tempfile

pelkora, examples, build = sys.argv[1], sys.argv[2], sys.argv[3]
work = tempfile.mkdtemp(prefix="pelkora-command-line-")
spool = os.path.join(work, "tmp")
os.mkdir(spool)
env = dict(os.environ, LC_ALL="C.UTF-8", TMPDIR=spool)
for name in ("CONFIG", "STATE", "DATA", "CACHE"):
    env[f"XDG_{name}_HOME"] = os.path.join(work, name.lower())
failures = []
csv = os.path.join(examples, "contacts.csv")
CARD = "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Ada Lovelace\r\nEND:VCARD\r\n"


def check(what, expected, actual):
    if expected != actual:
        failures.append(f"{what}\n  expected: {expected!r}\n  actual:   {actual!r}")


def run(*arguments, stdin=None, cwd=None):
    return subprocess.run([pelkora, *arguments], env=env, capture_output=True, text=True,
                          input=stdin, cwd=cwd)


# --- Help ---
listing = run("--help")
check("--help exit", 0, listing.returncode)
commands = re.findall(r"^  ([a-z-]+) {2,}", listing.stdout.split("Commands:\n")[1].split("\n\n")[0],
                      re.M)
check("--help lists the commands", ["import", "imports", "undo", "scan", "export-vcard", "open", "rows", "map",
                                    "mappings", "sheets", "encodings", "contacts", "catalogue", "vocabulary",
                                    "dates", "settings", "stores", "log", "help"], commands)
check("--help lists the exit codes", True,
      all(f"\n  {code}  " in listing.stdout for code in range(4)))
for command in commands:
    own = run(command, "--help")
    via_help = run("help", command)
    check(f"{command} --help exit", 0, own.returncode)
    check(f"help {command} is {command} --help", own.stdout, via_help.stdout)
    check(f"{command} --help: usage", True, own.stdout.startswith(f"Usage: pelkora {command}"))
    for part in ("\nOptions:\n", "\nExamples:\n  pelkora", "\nExit codes:\n"):
        check(f"{command} --help has {part.strip()}", True, part in own.stdout)
nested = run("help", "contacts", "export")
check("help of a command's command", True, nested.stdout.startswith(
    "Usage: pelkora contacts [OPTIONS] export [OPTIONS] [OUT.vcf]"))
check("contacts export --help is help contacts export", nested.stdout,
      run("contacts", "export", "--help").stdout)
unknown_help = run("help", "frobnicate")
check("help of an unknown command", (2, 'pelkora: help: no command “frobnicate”. Run “pelkora '
      '--help” for the list.\n'), (unknown_help.returncode, unknown_help.stderr))
for flag in ("-V", "--version"):
    version = run(flag)
    check(f"{flag}", (0, "pelkora 0.1.0\n"), (version.returncode, version.stdout))
nothing = run()
check("no command: exit", 2, nothing.returncode)
check("no command: usage on stderr", True, "Usage: pelkora [OPTIONS] COMMAND" in nothing.stderr)

# --- Usage errors: exit 2, the command's usage on stderr, nothing on stdout ---
for arguments, usage, message in [
    (["rows", "--frob", csv], "Usage: pelkora rows", "The following argument was not expected: --frob"),
    (["rows"], "Usage: pelkora rows", "FILE is required"),
    (["rows", "--limit"], "Usage: pelkora rows", "--limit"),
    (["rows", "--limit", "x", csv], "Usage: pelkora rows", "--limit: takes a whole number from 0, not “x”"),
    (["rows", "--encoding=nope", csv], "Usage: pelkora rows", "unknown encoding “nope”"),
    (["rows", "--delimiter", "ab", csv], "Usage: pelkora rows", "one character"),
    (["map", "--row", "0", csv], "Usage: pelkora map", "--row: takes a whole number from 1"),
    (["map", "--set", "Groups", csv], "Usage: pelkora map", "takes COLUMN=TARGET[:LABEL]"),
    (["open", "--as", "pdf", csv], "Usage: pelkora open", "unknown value “pdf”"),
    (["export-vcard", csv], "Usage: pelkora export-vcard", "-o OUT.vcf or --individual DIR"),
    (["export-vcard", "-o", "a.vcf", "--individual", work, csv], "Usage: pelkora export-vcard",
     "excludes"),
    (["contacts"], "Usage: pelkora contacts", "subcommand"),
    (["contacts", "list", "extra"], "Usage: pelkora contacts", "extra"),
    (["settings", "get"], "Usage: pelkora settings", "KEY is required"),
    (["dates", "test", "12.05.1979"], "Usage: pelkora dates", "--format is required"),
    (["sheets", "a.xlsx", "b.xlsx"], "Usage: pelkora sheets", "b.xlsx"),
    (["encodings", "--frob"], "Usage: pelkora encodings", "--frob"),
    (["frobnicate"], "Usage: pelkora [OPTIONS] COMMAND", "unknown command “frobnicate”"),
]:
    result = run(*arguments)
    what = "pelkora " + " ".join(arguments)
    check(f"{what}: exit", 2, result.returncode)
    check(f"{what}: nothing on stdout", "", result.stdout)
    check(f"{what}: usage on stderr", True, usage in result.stderr)
    check(f"{what}: says why ({result.stderr.splitlines()[:1]})", True, message in result.stderr)

# --- Option syntax ---
spaced = run("rows", "--limit", "2", "--json", csv)
check("--opt value", 0, spaced.returncode)
check("--opt=value is --opt value", spaced.stdout, run("rows", "--limit=2", "--json", csv).stdout)
check("-v after the command", True,
      "page: Start" in run("open", csv, "-v").stderr)
dashed = os.path.join(work, "-dashed.csv")
shutil.copy(csv, dashed)
after_marker = run("open", "--", "-dashed.csv", cwd=work)
check("-- ends the options", ("-dashed.csv: text\n", 0), (after_marker.stdout, after_marker.returncode))
check("without --, -dashed.csv is an option", 2, run("open", "-dashed.csv", cwd=work).returncode)

# --- "-": standard input and standard output ---
with open(csv, encoding="utf-8") as stream:
    csv_text = stream.read()
check("open - with a table", "-: text\n", run("open", "-", stdin=csv_text).stdout)
check("open - with vCards", "-: vCard\n", run("open", "-", stdin=CARD).stdout)
check("open --as text - with vCards", "-: text\n", run("open", "--as", "text", "-", stdin=CARD).stdout)
check("rows - reads standard input", spaced.stdout, run("rows", "--limit", "2", "--json", "-",
                                                        stdin=csv_text).stdout)
scanned = run("scan", "-", stdin=CARD + CARD)
check("scan -", (0, "2 contacts found"), (scanned.returncode, scanned.stdout.splitlines()[-1]))
mapped = run("map", "--json", "-", stdin=csv_text)
check("map -", 0, mapped.returncode)
check("map - maps the columns", True, '"propertyKey": "phoneNumbers"' in mapped.stdout)
store = os.path.join(work, "book.sqlite")
imported = run("import", "--store", store, "--json", "-", stdin=csv_text)
check("import - (a table)", (0, True), (imported.returncode, '"contactsAdded": 30' in imported.stdout))
imported = run("import", "--store", store, "--json", "-", stdin=CARD)
check("import - (vCards)", (0, True), (imported.returncode, '"contactsAdded": 1' in imported.stdout))
exported = run("export-vcard", "-o", "-", "-", stdin=csv_text)
check("export-vcard -o - -: vCards on stdout", (0, 30), (exported.returncode,
                                                       exported.stdout.count("BEGIN:VCARD")))
check("export-vcard -o -: the report on stderr", True, exported.stderr.startswith("Wrote 30 vCards"))
book = run("contacts", "--store", store, "export", "-")
check("contacts export -", (0, 31), (book.returncode, book.stdout.count("BEGIN:VCARD")))
check("standard input's copies are gone", [], os.listdir(spool))
twice = run("open", "-", "-", stdin=CARD)
check("- twice", (2, "pelkora: -: standard input can be read only once\n"),
      (twice.returncode, twice.stderr))

# --- Values the file does not have ---
past = run("map", "--preview", "--row", "31", csv)
check("--row past the end", (2, "pelkora: map: --row 31: the file has 30 records\n", ""),
      (past.returncode, past.stderr, past.stdout))
check("--row at the end", 0, run("map", "--preview", "--row", "30", csv).returncode)
for command in ("map", "import", "export-vcard", "vocabulary"):
    arguments = [command, "--lang", "xx"] + ([] if command == "vocabulary" else
                                             ["-o", "x.vcf", csv] if command == "export-vcard"
                                             else [csv])
    bad = run(*arguments)
    check(f"{command} --lang xx: exit", 2, bad.returncode)
    check(f"{command} --lang xx: the languages listed ({bad.stderr.splitlines()[:1]})", True,
          bool(re.search(r"the title vocabulary has no language “xx”; it has [a-z, ]*\bde, en\b",
                         bad.stderr)))
check("--lang de", 0, run("map", "--lang=de", csv).returncode)
for command in ("rows", "map", "import"):
    sheet = run(command, "--sheet", "1", csv)
    check(f"{command} --sheet on a text file", (2, True),
          (sheet.returncode, "--sheet applies to Excel workbooks (.xlsx), and " in sheet.stderr))
check("--sheet on a workbook", 0, run("rows", "--sheet", "People", os.path.join(
    examples, "contacts.xlsx")).returncode)

# --- Manual pages ---
man = os.path.join(work, "man1")
completions = os.path.join(work, "completions")
generated = run("--generate-man", man, "--generate-completions", completions)
check("generation exit", 0, generated.returncode)
pages = sorted(os.listdir(man))
check("a manual page per command", sorted(["pelkora.1"] + [f"pelkora-{c}.1" for c in commands]),
      pages)
for page in pages:
    rendered = subprocess.run(["groff", "-man", "-Tutf8", "-ww", "-z", os.path.join(man, page)],
                              capture_output=True, text=True)
    check(f"{page} renders without warnings", (0, ""), (rendered.returncode, rendered.stderr))
text = subprocess.run(["groff", "-man", "-Tutf8", "-P-cbou", os.path.join(man, "pelkora-map.1")],
                      capture_output=True, text=True).stdout
for part in ("NAME", "pelkora-map - Map every column", "--row N", "EXAMPLES", "EXIT STATUS",
             "pelkora(1)"):
    check(f"pelkora-map(1) shows {part}", True, part in " ".join(text.replace("‐", "-").split()))

# --- Completions ---
bash_script = os.path.join(completions, "pelkora.bash")
for shell, script in (("bash", bash_script), ("zsh", os.path.join(completions, "_pelkora")),
                      ("fish", os.path.join(completions, "pelkora.fish"))):
    if shutil.which(shell) is None:
        failures.append(f"{shell} is not installed (scripts/install-deps installs it)")
        continue
    syntax = subprocess.run([shell, "-n", script], capture_output=True, text=True)
    check(f"{shell} -n {os.path.basename(script)}", (0, ""), (syntax.returncode, syntax.stderr))


def bash_complete(line):
    """What the bash completion offers for the line (the cursor at its end)."""
    words = line.split(" ")
    program = (f"source {bash_script}\nCOMP_WORDS=({' '.join(repr(w) for w in words)})\n"
               f"COMP_CWORD={len(words) - 1}\n_pelkora\nprintf '%s\\n' \"${{COMPREPLY[@]}}\"\n")
    result = subprocess.run(["bash", "--norc", "-c", program], capture_output=True, text=True,
                            cwd=work)
    return sorted(filter(None, result.stdout.split("\n")))


check("bash: commands", ["map", "mappings"], bash_complete("pelkora ma"))
check("bash: a command's options", ["--store"], bash_complete("pelkora import --sto"))
check("bash: global options after a command", ["--verbose"], bash_complete("pelkora map --verb"))
check("bash: a command's commands", ["list"], bash_complete("pelkora contacts --json l"))
check("bash: choices", ["text"], bash_complete("pelkora open --as te"))
check("bash: files", ["-dashed.csv"], bash_complete("pelkora rows -- -da"))
check("bash: an option's file", ["book.sqlite"], bash_complete("pelkora import --store boo"))
check("bash: help's commands", ["scan", "settings", "sheets", "stores"], bash_complete("pelkora help s"))



def fish_complete(line):
    """What the fish completion offers for the line: its words without their hints."""
    script = os.path.join(completions, "pelkora.fish")
    result = subprocess.run(["fish", "--no-config", "-c", f"source {script}; complete -C '{line}'"],
                            capture_output=True, text=True, cwd=work)
    return sorted(entry.split("\t")[0] for entry in result.stdout.splitlines())


if shutil.which("fish"):
    check("fish: commands", ["map", "mappings"], fish_complete("pelkora ma"))
    check("fish: a command's options", ["--store", "--strict"], fish_complete("pelkora import --st"))
    check("fish: a command's commands", ["list"], fish_complete("pelkora contacts l"))
    check("fish: choices", ["auto", "text", "vcard", "xlsx"], fish_complete("pelkora open --as "))

# --- cmake --install ---
subprocess.run(["cmake", "--build", build, "--target", "pelkora_docs"], check=True,
               capture_output=True)
prefix = os.path.join(work, "prefix")
installed = subprocess.run(["cmake", "--install", build, "--prefix", prefix],
                           capture_output=True, text=True)
check(f"cmake --install ({installed.stderr.strip()})", 0, installed.returncode)
for path in ["bin/pelkora", "share/man/man1/pelkora.1", "share/man/man1/pelkora-import.1",
             "share/bash-completion/completions/pelkora", "share/zsh/vendor-completions/_pelkora",
             "share/fish/vendor_completions.d/pelkora.fish"]:
    check(f"installed {path}", True, os.path.isfile(os.path.join(prefix, path)))
check("installed manual pages", pages, sorted(os.listdir(os.path.join(prefix, "share/man/man1"))))
# The bus starts the window from the prefix given when installing, not the one configured.
service = os.path.join(prefix, "share/dbus-1/services/org.pelkora.Pelkora.service")
with open(service, encoding="utf-8") as text:
    check("D-Bus service names the installed program",
          True, f"Exec={prefix}/bin/pelkora-gui\n" in text.read())

shutil.rmtree(work, ignore_errors=True)
for failure in failures:
    print("FAILED:", failure)
print(f"{len(failures)} failures")
sys.exit(1 if failures else 0)
