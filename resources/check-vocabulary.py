#!/usr/bin/python3
"""Validate the column-title vocabulary (ContactPropertyStrings.tsv).

Default run: checks the table and prints the number of entries per language and per
vendor. Exit status 0 when the table is valid, 1 when it has errors, 2 on bad usage.

    check-vocabulary.py [TABLE] [--keys ContactKeys.h] [--quiet]
    check-vocabulary.py --self-test [TABLE]   also match every title the way auto-mapping
                                              does and report titles that do not come back
                                              as their own target
    check-vocabulary.py --reorder [TABLE]     rewrite the table in the order that makes
                                              every title come back as its own target
                                              (see README.md, "Order of the rows")

Checks: the header line; seven tab-separated columns per row; UTF-8 without byte-order
mark, NFC-normalised, line feeds only; languages are lower-case ISO 639-1 codes; the type
is "Property" or "Label"; keys, postal components, services and labels are the string
values of the tables beside src/addressbook/ContactKeys.h (plus the program's own keys); the sub-key
fits the key; the label is one the key offers; every Property entry of a labelled property
carries a label; titles are non-empty and trimmed; no title appears twice in a language
(Property entries) or twice for the same key (Label entries); each language is one block
with its Property entries before its Label entries.
"""

import argparse
import collections
import heapq
import os
import re
import sys
import unicodedata

HEADER = ["language", "title", "type", "key", "subkey", "label", "vendor"]

# The program's own keys, which are not contact-store properties.
CUSTOM_KEYS = ["CustomPropertyKey.AdditionalNote", "CustomPropertyKey.Group", "CustomPropertyKey.UID",
               "CustomPropertyKey.FullName"]
CUSTOM_POSTAL_SUBKEY = "CustomPropertyKey.Addition"

# Property keys of ContactKeys.h that are not import targets.
NOT_TARGETS = {"identifier", "thumbnailImageData"}

# ISO 639-1 codes.
ISO639_1 = set("""
aa ab ae af ak am an ar as av ay az ba be bg bh bi bm bn bo br bs ca ce ch co cr cs cu cv cy
da de dv dz ee el en eo es et eu fa ff fi fj fo fr fy ga gd gl gn gu gv ha he hi ho hr ht hu
hy hz ia id ie ig ii ik io is it iu ja jv ka kg ki kj kk kl km kn ko kr ks ku kv kw ky la lb
lg li ln lo lt lu lv mg mh mi mk ml mn mr ms mt my na nb nd ne ng nl nn no nr nv ny oc oj om
or os pa pi pl ps pt qu rm rn ro ru rw sa sc sd se sg si sk sl sm sn so sq sr ss st su sv sw
ta te tg th ti tk tl tn to tr ts tt tw ty ug uk ur uz ve vi vo wa wo xh yi yo za zh zu
""".split())

VENDOR_RE = re.compile(r"^[a-z0-9][a-z0-9.+-]*$")


def default_paths():
    here = os.path.dirname(os.path.abspath(__file__))
    table = os.path.join(here, "ContactPropertyStrings.tsv")
    keys = os.path.join(here, os.pardir, "src", "addressbook", "ContactKeys.h")
    return table, os.path.normpath(keys)


class Catalogue:
    """Key, sub-key and label names taken from the vocabulary tables beside ContactKeys.h
    (ContactKeys.def, Labels.def, RelationLabels.def, Services.def)."""

    TABLES = ("ContactKeys.def", "Labels.def", "RelationLabels.def", "Services.def")

    def __init__(self, header_path):
        folder = os.path.dirname(header_path)
        entries = collections.defaultdict(dict)  # macro -> {C++ name: value}
        for table in self.TABLES:
            with open(os.path.join(folder, table), encoding="utf-8") as f:
                for macro, name, value in re.findall(r'^([A-Z_]+)\((\w+), "([^"]*)"\)$', f.read(), re.M):
                    entries[macro][name] = value
        if not entries:
            raise ValueError("no vocabulary entries found beside %s" % header_path)
        key = entries["CONTACT_KEY"]
        label = dict(entries["LABEL"], **entries["PHONE_LABEL"])
        relations = list(entries["RELATION_LABEL"].values()) + list(entries["EXTENDED_RELATION_LABEL"].values())

        self.property_keys = {val for name, val in key.items() if name not in NOT_TARGETS}
        self.property_keys.update(CUSTOM_KEYS)
        self.postal_keys = set(entries["POSTAL_ADDRESS_KEY"].values())
        self.postal_keys.add(CUSTOM_POSTAL_SUBKEY)
        self.social_services = set(entries["SOCIAL_PROFILE_SERVICE"].values())
        self.im_services = set(entries["INSTANT_MESSAGE_SERVICE"].values())
        self.labels = set(label.values()) | set(relations)

        self.POSTAL = key["postalAddresses"]
        self.SOCIAL = key["socialProfiles"]
        self.IM = key["instantMessageAddresses"]
        self.URL = key["urlAddresses"]
        base = [label["work"], label["home"], label["school"], label["other"]]
        self.allowed_labels = {
            key["dates"]: {label["anniversary"], label["other"]},
            key["phoneNumbers"]: set(base) | set(entries["PHONE_LABEL"].values()),
            key["urlAddresses"]: set(base) | {label["homePage"]},
            key["emailAddresses"]: set(base) | {label["iCloud"]},
            key["contactRelations"]: {label["other"]} | set(relations),
            key["postalAddresses"]: set(base),
            key["instantMessageAddresses"]: set(base),
        }
        self.labelled_keys = set(self.allowed_labels)
        self.default_label = {k: label["other"] for k in self.labelled_keys}
        self.default_label[self.URL] = label["homePage"]


class Row:
    __slots__ = ("line", "language", "title", "type", "key", "subkey", "label", "vendor")

    def __init__(self, line, fields):
        self.line = line
        (self.language, self.title, self.type, self.key, self.subkey, self.label, self.vendor) = fields

    def fields(self):
        return [self.language, self.title, self.type, self.key, self.subkey, self.label, self.vendor]

    def target(self):
        return (self.key, self.subkey, self.label)


def read_table(path, errors):
    with open(path, "rb") as f:
        data = f.read()
    if data.startswith(b"\xef\xbb\xbf"):
        errors.append("%s: starts with a byte-order mark" % path)
        data = data[3:]
    try:
        text = data.decode("utf-8")
    except UnicodeDecodeError as e:
        errors.append("%s: not UTF-8 (%s)" % (path, e))
        return [], []
    if "\r" in text:
        errors.append("%s: contains carriage returns; use line feeds only" % path)
        text = text.replace("\r\n", "\n").replace("\r", "\n")
    lines = text.split("\n")
    if lines and lines[-1] == "":
        lines.pop()
    else:
        errors.append("%s: the last line does not end with a line feed" % path)
    if not lines:
        errors.append("%s: empty file" % path)
        return [], []
    header = lines[0].split("\t")
    if header != HEADER:
        errors.append("line 1: header must be %r, found %r" % ("\t".join(HEADER), lines[0]))
    rows = []
    for number, line in enumerate(lines[1:], start=2):
        fields = line.split("\t")
        if len(fields) != len(HEADER):
            errors.append("line %d: %d columns, expected %d: %r" % (number, len(fields), len(HEADER), line))
            continue
        rows.append(Row(number, fields))
    return lines, rows


def check_rows(rows, cat, errors, warnings):
    property_titles = {}
    label_titles = {}
    label_words = collections.defaultdict(set)
    current_language = current_type = None
    finished_languages = set()
    for r in rows:
        where = "line %d (%s %r)" % (r.line, r.language, r.title)
        # language
        if r.language not in ISO639_1:
            errors.append("%s: language %r is not a lower-case ISO 639-1 code" % (where, r.language))
        # title
        if not r.title.strip():
            errors.append("%s: empty title" % where)
        elif r.title != r.title.strip():
            errors.append("%s: title has leading or trailing white space" % where)
        if any(unicodedata.category(ch) in ("Cc", "Cf", "Zl", "Zp") for ch in r.title):
            errors.append("%s: title contains control or format characters" % where)
        if "  " in r.title:
            errors.append("%s: title contains two blanks in a row" % where)
        if unicodedata.normalize("NFC", r.title) != r.title:
            errors.append("%s: title is not NFC-normalised" % where)
        for name in ("key", "subkey", "label", "vendor"):
            value = getattr(r, name)
            if value != value.strip():
                errors.append("%s: %s has white space around it" % (where, name))
        # type
        if r.type not in ("Property", "Label"):
            errors.append("%s: type must be Property or Label, found %r" % (where, r.type))
            continue
        # key
        if r.key not in cat.property_keys:
            errors.append("%s: unknown property key %r" % (where, r.key))
            continue
        # sub-key
        if r.key == cat.POSTAL:
            if r.type == "Property" and r.subkey not in cat.postal_keys:
                errors.append("%s: postal address entries need a postal component sub-key, found %r" % (where, r.subkey))
        elif r.key == cat.SOCIAL:
            if r.subkey not in cat.social_services:
                errors.append("%s: social-profile entries need a social-profile service sub-key, found %r" % (where, r.subkey))
        elif r.key == cat.IM:
            if r.type == "Property" and r.subkey not in cat.im_services:
                errors.append("%s: instant-message entries need an instant-message service sub-key, found %r" % (where, r.subkey))
        elif r.subkey:
            errors.append("%s: key %r takes no sub-key, found %r" % (where, r.key, r.subkey))
        if r.type == "Label" and r.subkey:
            errors.append("%s: Label entries take no sub-key" % where)
        # label
        if r.label:
            if r.label not in cat.labels:
                errors.append("%s: unknown label %r" % (where, r.label))
            elif r.key not in cat.allowed_labels:
                errors.append("%s: key %r takes no label, found %r" % (where, r.key, r.label))
            elif r.label not in cat.allowed_labels[r.key]:
                errors.append("%s: label %r is not offered for key %r" % (where, r.label, r.key))
        elif r.key in cat.labelled_keys:
            errors.append("%s: entries for %r need a label (use %r when none fits)" % (where, r.key, cat.default_label[r.key]))
        if r.type == "Label" and r.key not in cat.labelled_keys:
            errors.append("%s: Label entries must name a key that takes labels, found %r" % (where, r.key))
        # vendor
        if r.vendor and not VENDOR_RE.match(r.vendor):
            errors.append("%s: vendor must be a short lower-case name, found %r" % (where, r.vendor))
        # duplicates (matching ignores case)
        folded = r.title.lower()
        if r.type == "Property":
            k = (r.language, folded)
            if k in property_titles:
                errors.append("%s: title already listed on line %d" % (where, property_titles[k]))
            else:
                property_titles[k] = r.line
        else:
            k = (r.language, folded, r.key)
            if k in label_titles:
                errors.append("%s: label word already listed for %r on line %d" % (where, r.key, label_titles[k]))
            else:
                label_titles[k] = r.line
            label_words[(r.language, folded)].add(r.key)
        # blocks: one per language, Property entries before Label entries
        if r.language != current_language:
            if r.language in finished_languages:
                errors.append("%s: the entries of %r are not in one block" % (where, r.language))
            if current_language is not None:
                finished_languages.add(current_language)
            current_language, current_type = r.language, r.type
        elif r.type != current_type:
            if r.type == "Property":
                errors.append("%s: Property entry after the Label entries of %r" % (where, r.language))
            current_type = r.type
    for r in rows:
        if r.type == "Property":
            keys = label_words.get((r.language, r.title.lower()))
            if keys and r.key not in keys and r.key != "CustomPropertyKey.AdditionalNote":
                warnings.append("line %d (%s %r): also a label word (for %s); the title maps to %r" % (
                    r.line, r.language, r.title, ", ".join(sorted(keys)), r.key))


# ---------------------------------------------------------------------------------------
# Matching model: how auto-mapping turns a column title into a target, used by
# --self-test and --reorder. Among candidates of equal score, vendor entries rank before
# the others, Property entries before Label entries, social-profile entries before other
# keys, and the table order decides the rest (see README.md, "Order of the rows").

def levenshtein(a, b, cache={}):
    key = (a, b)
    found = cache.get(key)
    if found is not None:
        return found
    if not a or not b:
        d = len(a) + len(b)
    else:
        prev = list(range(len(b) + 1))
        for i, ca in enumerate(a, 1):
            cur = [i]
            for j, cb in enumerate(b, 1):
                cur.append(min(prev[j] + 1, cur[j - 1] + 1, prev[j - 1] + (ca != cb)))
            prev = cur
        d = prev[-1]
    cache[key] = d
    return d


def score(title_lower, title_words, cand_words, limit=3):
    """Score of a candidate against a title, or None when it is not below the limit.

    For every pair of a title word and a candidate word: -1 when the whole title equals
    the candidate word, 0 when one of the whole title and the candidate word contains the
    other, else the edit distance between the two words (all lower-cased)."""
    s = 0
    single = len(title_words) == 1
    for t in title_words:
        for c in cand_words:
            if title_lower == c:
                s -= 1
            elif c in title_lower or title_lower in c:
                continue
            else:
                s += levenshtein(c, t)
                if s >= limit and not single:
                    return None
    return s if s < limit else None


class Matcher:
    def __init__(self, rows, cat):
        self.cat = cat
        self.by_language = collections.defaultdict(list)
        for position, r in enumerate(rows):
            self.by_language[r.language].append((position, r, r.title.lower(), r.title.lower().split(" ")))

    def rank(self, r):
        return (0 if r.vendor else 1, 1 if r.type == "Label" else 0, 0 if r.key == self.cat.SOCIAL else 1)

    def candidates(self, title, language):
        tl = title.lower()
        words = tl.split(" ")
        out = []
        for position, r, cl, cwords in self.by_language[language]:
            s = score(tl, words, cwords)
            if s is not None:
                out.append((s, position, r))
        return out

    def match(self, title, language):
        """Target (key, sub-key, label) that auto-mapping gives a column title."""
        cat = self.cat
        key = sub = label = ""
        tl = title.lower()
        if len(title) < 4:
            cands = [(p, r) for p, r, cl, cw in self.by_language[language] if cl in tl]
            cands.sort(key=lambda x: (0 if x[1].vendor else 1, x[0]))
            for p, r in cands:
                if r.title.lower() == tl:
                    key, sub = r.key, r.subkey
                    if r.label:
                        label = r.label
                    break
                elif r.type == "Property" and not key:
                    key, sub = r.key, r.subkey
                elif r.type == "Label":
                    key = key or r.key
                    label = label or r.label
        else:
            ranked = sorted(self.candidates(title, language), key=lambda x: (x[0],) + self.rank(x[2]) + (x[1],))
            for s, p, r in ranked:
                key = key or r.key
                sub = sub or r.subkey
                label = label or r.label
                if key and sub and label:
                    break
        if not label and key in cat.labelled_keys:
            label = cat.default_label[key]
        if sub and key not in (cat.POSTAL, cat.SOCIAL, cat.IM):
            sub = ""
        if key in (cat.POSTAL, cat.SOCIAL, cat.IM) and not sub:
            key = ""
        if not key:
            sub = ""
        if key not in cat.labelled_keys:
            label = ""
        return key, sub, label


def expected(r, cat):
    return (r.key, r.subkey, r.label if r.key in cat.labelled_keys else "")


def self_test(rows, cat, verbose=True):
    m = Matcher(rows, cat)
    failures = []
    for r in rows:
        if r.type != "Property":
            continue
        got = m.match(r.title, r.language)
        if got != expected(r, cat):
            failures.append((r, got))
    if verbose:
        for r, got in failures:
            print("self-test: line %d (%s %r) maps to %s, not to %s" % (
                r.line, r.language, r.title, "/".join(got) or "nothing", "/".join(expected(r, cat))))
    return failures


def conflicts(other, want, cat):
    """Whether a candidate ranked before a title's own entry would change its target."""
    key, sub, label = want
    if other.key and other.key != key:
        return True
    if other.subkey and sub and other.subkey != sub:
        return True
    if other.label and key in cat.labelled_keys and other.label != label:
        return True
    return False


def compute_order(rows, cat):
    """Order the rows so that every Property title comes back as its own target.

    For a title, every candidate that ties with the title's own entry (same score and
    same rank) and would give a different target must come later. Cycles are broken in
    favour of the entry that comes first in the current order."""
    m = Matcher(rows, cat)
    n = len(rows)
    after = collections.defaultdict(set)   # i -> entries that must follow i
    indegree = [0] * n
    for i, r in enumerate(rows):
        if r.type != "Property" or len(r.title) < 4:
            continue
        cands = m.candidates(r.title, r.language)
        own = [c for c in cands if c[1] == i]
        if not own:
            continue
        own_key = (own[0][0],) + m.rank(r)
        want = expected(r, cat)
        for s, p, other in cands:
            if p == i or (s,) + m.rank(other) != own_key:
                continue
            if not conflicts(other, want, cat):
                continue
            if p not in after[i]:
                after[i].add(p)
                indegree[p] += 1
    heap = [i for i in range(n) if indegree[i] == 0]
    heapq.heapify(heap)
    done = [False] * n
    out = []
    while len(out) < n:
        if not heap:
            i = next(j for j in range(n) if not done[j])   # cycle: take the earliest entry
            indegree[i] = 0
        else:
            i = heapq.heappop(heap)
            if done[i]:
                continue
        done[i] = True
        out.append(i)
        for p in after[i]:
            if not done[p]:
                indegree[p] -= 1
                if indegree[p] == 0:
                    heapq.heappush(heap, p)
    return out


def reorder(path, rows, cat):
    """Rewrite the table: language blocks in their present order, each with its Property
    entries in matching order, then its Label entries in their present order."""
    languages = []
    for r in rows:
        if r.language not in languages:
            languages.append(r.language)
    ordered = []
    for language in languages:
        props = [r for r in rows if r.language == language and r.type == "Property"]
        ordered.extend(props[i] for i in compute_order(props, cat))
        ordered.extend(r for r in rows if r.language == language and r.type == "Label")
    with open(path, "w", encoding="utf-8", newline="\n") as f:
        f.write("\t".join(HEADER) + "\n")
        for r in ordered:
            f.write("\t".join(r.fields()) + "\n")


def main(argv):
    table_default, keys_default = default_paths()
    ap = argparse.ArgumentParser(description="Validate the column-title vocabulary.")
    ap.add_argument("table", nargs="?", default=table_default, help="the table (default: %(default)s)")
    ap.add_argument("--keys", default=keys_default, help="ContactKeys.h (default: %(default)s)")
    ap.add_argument("--self-test", action="store_true", help="check that every title maps to its own target")
    ap.add_argument("--reorder", action="store_true", help="rewrite the table in matching order")
    ap.add_argument("-q", "--quiet", action="store_true", help="print errors only")
    args = ap.parse_args(argv)

    try:
        cat = Catalogue(args.keys)
    except (OSError, ValueError, KeyError) as e:
        print("error: cannot read the key names: %s" % e, file=sys.stderr)
        return 1
    errors, warnings = [], []
    try:
        lines, rows = read_table(args.table, errors)
    except OSError as e:
        print("error: cannot read the table: %s" % e, file=sys.stderr)
        return 1
    check_rows(rows, cat, errors, warnings)

    if args.reorder and not errors:
        reorder(args.table, rows, cat)
        errors2 = []
        lines, rows = read_table(args.table, errors2)
        errors.extend(errors2)
        if not args.quiet:
            print("rewrote %s in matching order" % args.table)

    failures = []
    if args.self_test and not errors:
        failures = self_test(rows, cat, verbose=True)

    if not args.quiet:
        for w in warnings:
            print("warning: " + w)
        per_language = collections.OrderedDict()
        for r in rows:
            c = per_language.setdefault(r.language, collections.Counter())
            c[r.type] += 1
        print("Entries per language (Property + Label = total):")
        for language, c in per_language.items():
            print("  %-3s %5d + %4d = %5d" % (language, c["Property"], c["Label"], c["Property"] + c["Label"]))
        per_vendor = collections.Counter(r.vendor for r in rows if r.vendor)
        print("Entries per vendor (flagged as vendor custom mappings):")
        for vendor, count in sorted(per_vendor.items(), key=lambda x: (-x[1], x[0])):
            languages = sorted({r.language for r in rows if r.vendor == vendor})
            print("  %-14s %5d  (%s)" % (vendor, count, ", ".join(languages)))
        print("Total: %d entries in %d languages, %d vendor entries, %d warnings" % (
            len(rows), len(per_language), sum(per_vendor.values()), len(warnings)))
        if args.self_test and not errors:
            print("Self-test: %d titles do not map to their own target" % len(failures))
    for e in errors:
        print("error: " + e, file=sys.stderr)
    if errors:
        print("%d errors" % len(errors), file=sys.stderr)
        return 1
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
