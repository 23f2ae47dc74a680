#include "input/PackageParts_p.h"
#include "input/XmlPullScanner_p.h"

namespace pelkora::excel {

const ZipArchiveEntry* entryNamed(const ZipArchive& archive, std::string_view name) {
    for (const auto& entry : archive.entries()) {
        if (entry->fileName() == name) return entry.get();
    }
    return nullptr;
}

const ZipArchiveEntry* entryEndingWith(const ZipArchive& archive, std::string_view suffix,
                                       std::string& name) {
    for (const auto& entry : archive.entries()) {
        auto entryName = entry->fileName();
        if (std::string_view(entryName).ends_with(suffix)) {
            name = std::move(entryName);
            return entry.get();
        }
    }
    return nullptr;
}

Expected<std::unique_ptr<pugi::xml_document>, std::string> parsePart(const ZipArchive& archive,
                                                                     std::string_view name) {
    auto contents = archive.contentsOfEntry(name);
    if (!contents) return Unexpected(contents.error().message);
    auto document = std::make_unique<pugi::xml_document>();
    const auto result = document->load_buffer(contents->data(), contents->size());
    if (!result) {
        return Unexpected("The part “" + std::string(name) + "” is not well-formed XML: " +
                          result.description() + " at byte " + std::to_string(result.offset) + ".");
    }
    return document;
}

std::string step(std::string_view localName) {
    return "*[local-name()='" + std::string(localName) + "']";
}

std::optional<std::string> attributeValue(const pugi::xml_node& node, const char* name) {
    const auto attribute = node.attribute(name);
    if (!attribute) return std::nullopt;
    return std::string(attribute.value());
}

std::optional<std::string> relationshipAttribute(const pugi::xml_node& node,
                                                 std::string_view localName) {
    for (const auto& attribute : node.attributes()) {
        const std::string_view name = attribute.name();
        if (name.find(':') != std::string_view::npos && xml::localNameOf(name) == localName)
            return std::string(attribute.value());
    }
    return std::nullopt;
}

std::string resolvedTarget(std::string_view target) {
    if (target.starts_with("/")) return std::string(target.substr(1));
    if (target.starts_with("../")) return "xl/" + std::string(target.substr(3));
    return std::string(target);
}

std::string relationshipsPathOf(std::string_view partPath) {
    const auto slash = partPath.rfind('/');
    const std::string_view folder =
        slash == std::string_view::npos ? std::string_view() : partPath.substr(0, slash + 1);
    const std::string_view file =
        slash == std::string_view::npos ? partPath : partPath.substr(slash + 1);
    return std::string(folder) + "_rels/" + std::string(file) + ".rels";
}

}  // namespace pelkora::excel
