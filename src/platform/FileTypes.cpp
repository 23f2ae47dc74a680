#include "platform/FileTypes.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <system_error>

#include "support/Format.h"
#include "support/Localization.h"

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
            formatMessage(localizedString("The file “%1$@” couldn’t be examined: %2$@."),
                          path.filename().string(), reason),
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

namespace {

bool startsWithBytes(std::string_view bytes, std::string_view prefix) {
    return bytes.substr(0, prefix.size()) == prefix;
}

// UTF-16 text as the bytes of its ASCII characters (others become '?'), for looking at the
// beginning of a file only.
std::string narrowedUtf16(std::string_view bytes, bool bigEndian) {
    std::string narrow;
    for (std::size_t at = 0; at + 1 < bytes.size(); at += 2) {
        const auto high = static_cast<unsigned char>(bytes[bigEndian ? at : at + 1]);
        const auto low = static_cast<unsigned char>(bytes[bigEndian ? at + 1 : at]);
        narrow += high == 0 && low < 0x80 ? static_cast<char>(low) : '?';
    }
    return narrow;
}

bool beginsWithVCard(std::string_view text) {
    std::size_t at = 0;
    while (at < text.size() &&
           (text[at] == ' ' || text[at] == '\t' || text[at] == '\r' || text[at] == '\n'))
        ++at;
    constexpr std::string_view marker = "begin:vcard";
    if (text.size() - at < marker.size()) return false;
    for (std::size_t index = 0; index < marker.size(); ++index) {
        char c = text[at + index];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != marker[index]) return false;
    }
    return true;
}

}  // namespace

std::string typeIdentifierForContent(std::string_view bytes) {
    if (startsWithBytes(bytes, "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1"))
        return "com.microsoft.excel.xls";
    if (startsWithBytes(bytes, "PK\x03\x04")) {
        // An OpenDocument package stores its media type uncompressed as the first entry.
        if (bytes.size() >= 84 && bytes.substr(30, 8) == "mimetype" &&
            bytes.substr(38, 46) == "application/vnd.oasis.opendocument.spreadsheet")
            return "org.oasis-open.opendocument.spreadsheet";
        // A workbook's parts live under "xl/"; their names are in the first local headers.
        if (bytes.find("xl/") != std::string_view::npos)
            return "org.openxmlformats.spreadsheetml.sheet";
        return "public.zip-archive";
    }
    std::string text;
    if (startsWithBytes(bytes, "\xFF\xFE") || startsWithBytes(bytes, "\xFE\xFF")) {
        text = narrowedUtf16(bytes.substr(2), bytes[0] == '\xFE');
    } else {
        if (bytes.find('\0') != std::string_view::npos) return "public.data";
        text = startsWithBytes(bytes, "\xEF\xBB\xBF") ? bytes.substr(3) : bytes;
    }
    return beginsWithVCard(text) ? "public.vcard" : "public.plain-text";
}

}  // namespace pelkora::filetypes
