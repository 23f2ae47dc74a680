#pragma once

// Finding and reading the small XML parts of a workbook package (relationships, workbook,
// styles, drawings), which are read whole into a pugixml document and queried with XPath.
// The large parts, sheets and shared strings, are streamed instead (XmlPullScanner_p.h).

#include <memory>
#include <optional>
#include <pugixml.hpp>
#include <string>
#include <string_view>

#include "input/zip/ZipArchive.h"
#include "support/Expected.h"

namespace pelkora::excel {

// Returns the first entry whose name is exactly the given one, or null.
const ZipArchiveEntry* entryNamed(const ZipArchive& archive, std::string_view name);

// Returns the first entry whose name ends with the suffix and sets name to its name, or
// returns null and leaves name alone.
const ZipArchiveEntry* entryEndingWith(const ZipArchive& archive, std::string_view suffix,
                                       std::string& name);

// Returns the part named so as a document, or the error text when it cannot be read or is not
// well-formed.
Expected<std::unique_ptr<pugi::xml_document>, std::string> parsePart(const ZipArchive& archive,
                                                                     std::string_view name);

// Returns an XPath step that matches an element by its local name, so that a part written
// with prefixes (x:worksheet) reads like one without.
std::string step(std::string_view localName);

// Returns the value of the attribute with exactly this name, or none.
std::optional<std::string> attributeValue(const pugi::xml_node& node, const char* name);

// Returns the value of a relationship id attribute ("r:id", "r:embed") by its local name,
// whatever prefix the part binds to the relationships namespace; none when absent.
std::optional<std::string> relationshipAttribute(const pugi::xml_node& node,
                                                 std::string_view localName);

// Returns the package path of a relationship target: targets are relative to the "xl/"
// folder, and one beginning with "../" climbs out of a sub-folder of it. A target starting
// with "/" is already a package path.
std::string resolvedTarget(std::string_view target);

// Returns the path of a part's relationships part: "xl/worksheets/sheet1.xml" has
// "xl/worksheets/_rels/sheet1.xml.rels".
std::string relationshipsPathOf(std::string_view partPath);

}  // namespace pelkora::excel
