#pragma once

// File type identification by type identifier and conformance.
//
// Desktop platforms answer "what kind of file is this" with a type identifier
// ("public.comma-separated-values-text") and a conformance graph in which a type
// conforms to its ancestors ("public.vcard" conforms to "public.text"). Linux has no
// such service that behaves the same everywhere (shared-mime-info differs between
// installations), so this is our own deterministic table: the file-name extension,
// compared without regard to case, picks the identifier, and every identifier lists
// its direct parents.
//
//   extension              identifier                                           parents
//   csv                    public.comma-separated-values-text public.delimited-values-text tsv, tab
//   public.tab-separated-values-text                     public.delimited-values-text txt, text
//   public.plain-text                                    public.text vcf, vcard public.vcard
//   public.text, public.contact xls, xlt               com.microsoft.excel.xls public.data,
//   public.spreadsheet xlsx                   org.openxmlformats.spreadsheetml.sheet
//   public.zip-archive, public.spreadsheet xlsm org.openxmlformats.spreadsheetml.sheet.macroenabled
//   public.zip-archive, public.spreadsheet xlsb com.microsoft.excel.sheet.binary.macroenabled
//   com.microsoft.excel.sheet.binary numbers                com.apple.iwork.numbers.sffnumbers
//   public.data, public.spreadsheet ods                    org.oasis-open.opendocument.spreadsheet
//   public.zip-archive, public.spreadsheet zip                    public.zip-archive
//   public.archive, public.data (anything else)        public.data public.item
//
// A folder is "public.folder". The full graph, with the intermediate types, is the
// table in FileTypes.cpp.

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "support/Error.h"
#include "support/Expected.h"

namespace pelkora::filetypes {

enum class TypeIdentifierErrorKind {
    unexaminable,  // the file is missing or its folder cannot be searched
};

// The message reads "The file “x.csv” couldn’t be examined: No such file or directory.".
using TypeIdentifierError = Error<TypeIdentifierErrorKind>;

// The type identifier of an existing file or folder; an error when it cannot be examined.
Expected<std::string, TypeIdentifierError> typeIdentifierForFile(const std::filesystem::path& path);

// The identifier for a file-name extension (without the dot, any case); "public.data" when unknown.
std::string typeIdentifierForExtension(std::string_view extension);

// The type identifier the first bytes of a file stand for, for a file whose name says
// nothing definite (".txt", no extension): "public.vcard" for a vCard (after an optional
// byte-order mark, white space and in UTF-16 too), "com.microsoft.excel.xls" for a compound
// document, "org.oasis-open.opendocument.spreadsheet" or
// "org.openxmlformats.spreadsheetml.sheet" for a zip archive whose entries say so (else
// "public.zip-archive"),
// "public.plain-text" for bytes without NUL (or UTF-16 with its mark) and "public.data" for
// anything else.
std::string typeIdentifierForContent(std::string_view firstBytes);

// True when type is parent or one of its ancestors in the conformance graph.
bool conformsTo(std::string_view type, std::string_view parent);

// The direct parents of a known identifier; empty for an unknown one.
std::vector<std::string_view> parentTypes(std::string_view type);

}  // namespace pelkora::filetypes
