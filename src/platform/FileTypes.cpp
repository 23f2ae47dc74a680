#include "platform/FileTypes.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <system_error>

namespace pelkora::filetypes {
namespace {

struct TypeDeclaration {
    std::string_view identifier;
    std::array<std::string_view, 3> parents;  // unused slots are empty
};

constexpr TypeDeclaration kTypes[] = {
    {"public.item", {}},
    {"public.content", {}},
    {"public.data", {"public.item"}},
    {"public.folder", {"public.item"}},
    {"public.archive", {"public.data"}},
    {"public.contact", {"public.item"}},
    {"public.spreadsheet", {"public.content"}},
    {"public.text", {"public.data", "public.content"}},
    {"public.plain-text", {"public.text"}},
    {"public.delimited-values-text", {"public.text"}},
    {"public.comma-separated-values-text", {"public.delimited-values-text"}},
    {"public.tab-separated-values-text", {"public.delimited-values-text"}},
    {"public.vcard", {"public.text", "public.contact"}},
    {"public.zip-archive", {"public.archive", "public.data"}},
    {"com.microsoft.excel.xls", {"public.data", "public.spreadsheet"}},
    {"com.microsoft.excel.sheet.binary", {"public.data", "public.spreadsheet"}},
    {"com.microsoft.excel.sheet.binary.macroenabled", {"com.microsoft.excel.sheet.binary"}},
    {"org.openxmlformats.spreadsheetml.sheet", {"public.zip-archive", "public.spreadsheet"}},
    {"org.openxmlformats.spreadsheetml.sheet.macroenabled",
     {"public.zip-archive", "public.spreadsheet"}},
    {"com.apple.iwork.numbers.sffnumbers", {"public.data", "public.spreadsheet"}},
    {"org.oasis-open.opendocument.spreadsheet", {"public.zip-archive", "public.spreadsheet"}},
};

struct ExtensionDeclaration {
    std::string_view extension;  // lower case
    std::string_view identifier;
};

constexpr ExtensionDeclaration kExtensions[] = {
    {"csv", "public.comma-separated-values-text"},
    {"tsv", "public.tab-separated-values-text"},
    {"tab", "public.tab-separated-values-text"},
    {"txt", "public.plain-text"},
    {"text", "public.plain-text"},
    {"vcf", "public.vcard"},
    {"vcard", "public.vcard"},
    {"xls", "com.microsoft.excel.xls"},
    {"xlt", "com.microsoft.excel.xls"},
    {"xlsx", "org.openxmlformats.spreadsheetml.sheet"},
    {"xlsm", "org.openxmlformats.spreadsheetml.sheet.macroenabled"},
    {"xlsb", "com.microsoft.excel.sheet.binary.macroenabled"},
    {"numbers", "com.apple.iwork.numbers.sffnumbers"},
    {"ods", "org.oasis-open.opendocument.spreadsheet"},
    {"zip", "public.zip-archive"},
};

const TypeDeclaration* findType(std::string_view identifier) {
    for (const auto& type : kTypes) {
        if (type.identifier == identifier) return &type;
    }
    return nullptr;
}

std::string lowercased(std::string_view text) {
    std::string result(text);
    std::transform(result.begin(), result.end(), result.begin(), [](unsigned char c) {
        return static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
    });
    return result;
}

}  // namespace

std::string typeIdentifierForExtension(std::string_view extension) {
    const std::string key = lowercased(extension);
    for (const auto& entry : kExtensions) {
        if (entry.extension == key) return std::string(entry.identifier);
    }
    return "public.data";
}

Expected<std::string, TypeIdentifierError> typeIdentifierForFile(
    const std::filesystem::path& path) {
    std::error_code error;
    const auto status = std::filesystem::status(path, error);
    if (error || !std::filesystem::exists(status)) {
        const std::string reason = error ? error.message() : std::strerror(ENOENT);
        return Unexpected(TypeIdentifierError{
            TypeIdentifierErrorKind::unexaminable,
            "The file “" + path.filename().string() + "” couldn’t be examined: " + reason + ".",
            path});
    }
    if (std::filesystem::is_directory(status)) return std::string("public.folder");
    std::string extension = path.extension().string();
    if (!extension.empty()) extension.erase(0, 1);
    return typeIdentifierForExtension(extension);
}

std::vector<std::string_view> parentTypes(std::string_view type) {
    std::vector<std::string_view> parents;
    if (const auto* declaration = findType(type)) {
        for (auto parent : declaration->parents) {
            if (!parent.empty()) parents.push_back(parent);
        }
    }
    return parents;
}

bool conformsTo(std::string_view type, std::string_view parent) {
    if (type == parent) return true;
    // The graph is small and acyclic, so a plain depth-first walk is enough.
    for (auto direct : parentTypes(type)) {
        if (conformsTo(direct, parent)) return true;
    }
    return false;
}

}  // namespace pelkora::filetypes
