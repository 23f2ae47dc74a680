// pelkora: the command-line front end of the contact importer.

#include <iostream>
#include <string>
#include <vector>

#include "Command.h"
#include "Terminal.h"
#include "addressbook/UserCountry.h"
#include "platform/MainQueue.h"
#include "platform/SettingsStore.h"
#include "support/Logger.h"
#include "support/Settings.h"

namespace {

constexpr std::string_view kUsage = R"USAGE(Usage: pelkora [--verbose] COMMAND [ARGUMENTS]

Brings contact data from CSV/TSV text files, Excel workbooks (.xlsx) and vCard
files into your address book.

Commands:
  import [--container ID] [--encoding NAME] [--sheet NAME|ID] [--no-header]
         [--lang xx] [--set COLUMN=TARGET[:LABEL]]... [--no-duplicates]
         [--remove-groups] [--no-note-text] [--dry-run] [--strict] [--json]
         [--as auto|text|xlsx|vcard] [--store PATH] FILE | VCARDS...
                        The whole import: read the file, map its columns (learnt
                        titles included; --set corrects as for "map" and is
                        learnt for later files), and save one contact per row
                        into the address book in chunks of 500, with the groups
                        the data names and duplicates set aside in the groups
                        "OLD DUPLICATES" and "NEW DUPLICATES". Prints a summary
                        (--json: one object). Ctrl-C stops after the chunks
                        saved so far. --dry-run imports into a copy that is
                        thrown away, learning no correction and changing no
                        setting. Values not taken as they stood (not a date,
                        two columns on one field …) are counted in the summary
                        and listed in --json and the runtime log; --strict
                        saves nothing and exits 2 when there is any.
                        VCARDS: one or more vCard files, or folders whose .vcf
                        files are taken in name order, scanned and imported one
                        contact per card, CATEGORIES as groups; a card that
                        cannot be read is skipped and named in the summary.
                        The column options (--set, --no-header, --sheet, --lang,
                        --encoding) do not apply to them. A table is imported
                        on its own: never with vCards, never with another table.
  imports [--json]      The imports the journal recorded, newest first: number,
                        time, contacts saved, whether they can still be undone,
                        the file and the address book (container) they went to.
                        Every import is recorded as it saves, except a dry run.
  undo [--yes] [--dry-run] [--json] [IMPORT]
                        Remove the contacts of the last import (or of the import
                        with that number) from its address book, and the groups
                        it made once they are empty; groups that were there
                        before or hold other contacts stay. Contacts deleted
                        since are counted. Asks first on a terminal; elsewhere
                        --yes is needed (exit 2 without). --dry-run shows what
                        would go. An import is undone once (exit 1 after).
  scan [--json] [--as auto|text|xlsx|vcard] VCARDS...
                        What the vCard scan finds, importing nothing: the cards
                        of each file, the groups their CATEGORIES name (sorted),
                        the cards other programs wrote (their labels may not all
                        come through), files passed over and why, and "N
                        contacts found". Exits 1 when no card was found.
                        --json: one object with the keys cards, files (objects
                        with file and cards), filesSkipped (file and reason),
                        groups and cardsFromOtherPrograms.
  export-vcard (-o OUT.vcf [--force] | --individual DIR) [--encoding NAME]
         [--sheet NAME|ID] [--no-header] [--lang xx]
         [--set COLUMN=TARGET[:LABEL]]... FILE
                        Instead of the address book, write the contacts the rows
                        make as vCard 3.0: one file holding all, or one file per
                        contact named after it ("Anna Berg.vcf", "Anna Berg
                        2.vcf" …; existing files are never overwritten). OUT.vcf
                        is never the file read; an existing one (or a symbolic
                        link, which is replaced itself) only with --force. Exits
                        1 when a picture or contact had to be left out.
  open [--as auto|text|xlsx|vcard] [--json] FILE...
                        Classify files and open them as the importer would: the
                        first file when it is a table, or every vCard of a batch.
                        Prints each file's detected type, or the reason it cannot
                        be opened. The name decides where it says something
                        definite; a ".txt" or unknown name leaves it to the
                        content (a vCard saved as ".txt" is a vCard). --as (also
                        on map, import, scan, export-vcard) says what the file
                        is. --json: an array of objects with the keys file, type
                        ("workbook", "text" or "vcard") and, for a workbook of
                        several sheets, sheets (their number).
  rows [--encoding NAME] [--delimiter C] [--sheet NAME|ID] [--limit N] [--json]
       [--quiet] FILE
                        Read a table file as the importer does (encoding and
                        delimiter detection, header row) and print its rows: a
                        table (cut to the terminal's width on a terminal), or
                        JSON Lines with --json (a first line with the keys
                        encoding, fieldDelimiter and lineDelimiter or sheet,
                        headerRowIndex, exampleDataRowIndex and rowCount, then
                        one object per row with rowIndex, empty and cells, each
                        cell [columnIndex, value]). A progress bar shows on a
                        terminal unless --quiet.
  map [--no-header] [--lang xx] [--encoding NAME] [--sheet NAME|ID] [--json]
      [--set COLUMN=TARGET[:LABEL]]... [--learn] [--preview [--row N]] FILE
                        Map every column to a contact property as the importer
                        does: column, title, target, label, status, example.
                        The status says what happens to the column's values:
                        "mapped", "learnt" (mapped by your own corrections or
                        a saved mapping), "to note", "to note, learnt",
                        "ignored", "ignored, learnt", or "check" (the example
                        value needs a look). Tab-separated when not written to
                        a terminal.
                        --set corrects a column by hand (COLUMN: letters, number
                        or title; TARGET: a key such as phoneNumbers or
                        postalAddresses/street, or a title from "pelkora
                        catalogue"; LABEL: a label, its display text, a custom
                        text, or "extract"); --learn keeps the corrections for
                        later files, as an import does. Columns that share a
                        target only one value fits (two given-name columns, a
                        full name beside name columns) are named in "warning:"
                        lines after the table.
                        --json prints an array of objects with the keys column,
                        columnIndex, title, propertyKey, propertySubKey, label,
                        labelColumn, status (the page's status icon:
                        "mapping-status-assigned", "-assigned-custom",
                        "-append", "-append-custom", "-ignored",
                        "-ignored-custom" or "-needs-attention"), statusText
                        (the word the table shows), example and warnings (the
                        messages that name the column). --preview prints the
                        contact the mapping makes of the example record (or
                        record N).
  sheets [--json] FILE  The sheets of an Excel workbook (.xlsx) in workbook order:
                        number and name, as --sheet takes them (--json: objects
                        with the keys id and name).
  encodings [--json]    The encodings --encoding accepts, as the encoding page
                        lists them: title, then name (--json: objects with the
                        keys title and name, without the menu's separators).
  contacts [--store PATH] [--container ID] [--json] containers|list|groups
                        The address book's containers, contacts (with --json
                        every field, labels and groups), or groups with their
                        member counts. Reading never creates the address book:
                        only an import does. --json keys: containers identifier,
                        name and default; contacts identifier, contactType, the
                        fields they hold (givenName, phoneNumbers as label and
                        value …) and groups; groups identifier, name, members.
  contacts [--store PATH] [--container ID] [--force] export OUT.vcf
                        Every contact of the container as vCard 3.0, groups as
                        CATEGORIES. An existing OUT.vcf only with --force.
  contacts [--store PATH] [--container ID] [--json] import-vcf VCARDS...
                        The same as "import --store PATH --container ID VCARDS...".
  catalogue [--json] [--labels KEY]
                        The targets a column can be assigned to (menu tag, title,
                        key/sub-key), or the labels the label menu offers for a
                        key (labels named after one maker's devices, such as
                        iPhone, are read from files but not offered). --json:
                        objects with the keys tag, title, propertyKey and
                        propertySubKey; with --labels, label and title.
  vocabulary [--lang xx] [--find TITLE] [--custom] [--json]
                        The column titles the importer recognises (language,
                        title, kind, target and label); --custom lists the titles
                        learnt from your own corrections. Counts go to stderr.
                        --json: objects with the keys language, title, kind,
                        propertyKey, propertySubKey, label and vendor.
  vocabulary --forget TITLE | --forget-all
                        Forget a learnt title (exits 1 when it was not learnt),
                        or every learnt title.
  dates test --format PATTERN [--locale ID] TEXT
                        Read a date text with a pattern (e.g. "dd.MM.yyyy").
  dates list [--json]   The formats date texts are tried with: yours, then the
                        common ones of your locale (--json: objects with the
                        keys format, locale and custom).
  dates add --format PATTERN [--locale ID] | dates remove --format PATTERN
                        Manage your own formats.
  settings list [--json]
                        Every setting with its value: "(default)" when not stored,
                        "(not set)" when it has none (--json: objects with the
                        keys key, value, null when not set, and stored).
  settings get KEY      One setting: booleans as true/false, lists one item a line.
  settings set KEY VALUE...
                        Store a value of the setting's type (a list takes one
                        argument per item).
  settings reset KEY    Forget the stored value; the default applies again.
  log [--path]          Show the runtime log in the desktop's viewer, or print its path.

Options:
  --verbose             Echo the runtime log and the wizard's pages on stderr.
  --version             Print the version and exit.
  --help                Print this help and exit.

Output:
  Tables and listings are cut to the terminal's width (ioctl, else $COLUMNS,
  else 80 columns) when written to a terminal, and whole otherwise. Control
  characters from files are shown escaped ("\x1b", "\t"), never written raw.
  Colour only on a terminal, and never when NO_COLOR is set.

Exit codes:
  0  success
  1  the command could not do what was asked (file not opened, setting absent, ...)
  2  usage error (unknown command or option, bad value); import --strict: some
     values would not go in as they stand
  3  the settings, the address book or the import journal could not be written

Files:
  settings     $XDG_CONFIG_HOME/pelkora/settings.plist (~/.config/pelkora)
  runtime log  $XDG_STATE_HOME/pelkora/logs/runtime.log (~/.local/state/pelkora/logs)
  address book $XDG_DATA_HOME/pelkora/contacts.sqlite (~/.local/share/pelkora)
  imports      $XDG_DATA_HOME/pelkora/imports/NUMBER/ (one folder per import)
Only import, undo, map --learn, settings set/reset, dates add/remove and
vocabulary --forget change these files (and the learnt titles beside the
address book); every other command leaves them as they are. The runtime log
records every run.
)USAGE";

}  // namespace

int main(int argc, char** argv) {
    using namespace pelkora;
    cli::GlobalOptions options;
    std::vector<std::string> arguments;
    for (int index = 1; index < argc; ++index) {
        const std::string argument = argv[index];
        if (argument == "--verbose" || argument == "-v") {
            options.verbose = true;
        } else if (argument == "--version") {
            std::cout << "pelkora " << PELKORA_VERSION << '\n';
            return cli::kSuccess;
        } else if (argument == "--help" || argument == "-h") {
            std::cout << kUsage;
            return cli::kSuccess;
        } else {
            arguments.push_back(argument);
        }
    }
    if (arguments.empty()) {
        std::cerr << kUsage;
        return cli::kUsageError;
    }

    MainQueue::shared().adoptCurrentThreadAsMain();
    // Standard output carries only the command's own results; the log echo goes to
    // stderr, and only when asked for.
    if (options.verbose) {
        // Log entries quote file contents; their control characters are shown, not obeyed.
        Logger::shared().setEcho([](std::string_view message) {
            std::cerr << cli::escapedControls(message, true) << '\n';
        });
    } else {
        Logger::shared().setEcho({});
    }

    // The user's country for address layouts, when set instead of taken from the locale.
    if (auto country = SettingsStore::standard().stringForKey(SettingKey::DefaultCountryCode);
        country && !country->empty()) {
        contacts::setCountryCodeOverride(*country);
    }

    const std::string command = arguments.front();
    arguments.erase(arguments.begin());
    if (command == "open") return cli::runOpen(arguments, options);
    if (command == "settings") return cli::runSettings(arguments, options);
    if (command == "rows") return cli::runRows(arguments, options);
    if (command == "encodings") return cli::runEncodings(arguments, options);
    if (command == "contacts") return cli::runContacts(arguments, options);
    if (command == "catalogue") return cli::runCatalogue(arguments, options);
    if (command == "vocabulary") return cli::runVocabulary(arguments, options);
    if (command == "map") return cli::runMap(arguments, options);
    if (command == "sheets") return cli::runSheets(arguments, options);
    if (command == "import") return cli::runImport(arguments, options);
    if (command == "scan") return cli::runScan(arguments, options);
    if (command == "export-vcard") return cli::runExportVCard(arguments, options);
    if (command == "dates") return cli::runDates(arguments, options);
    if (command == "log") return cli::runLog(arguments, options);
    if (command == "imports") return cli::runImports(arguments, options);
    if (command == "undo") return cli::runUndo(arguments, options);
    cli::printError("unknown command “" + command +
                    "”. Run “pelkora --help” for the list of commands.");
    return cli::kUsageError;
}
