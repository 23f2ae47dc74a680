#include <algorithm>
#include <array>

#include "input/PackageParts_p.h"
#include "input/WorkbookPackage_p.h"
#include "input/WorkbookValues_p.h"
#include "support/Logger.h"

namespace pelkora {
namespace {

const std::array<std::string_view, 31> kBuiltinDateNumberFormatIds = {
    "14", "15", "16", "17", "18", "19", "20", "21", "22", "45", "46", "47", "27", "28", "29", "30",
    "31", "32", "33", "34", "35", "36", "50", "51", "52", "53", "54", "55", "56", "57", "58"};

}  // namespace

bool isDateFormatCode(std::string_view formatCode) {
    static constexpr std::array<std::string_view, 9> colours = {"[Color", "[Black]", "[Blue]",
                                                                "[Cyan]", "[Green]", "[Magenta]",
                                                                "[Red]",  "[White]", "[Yellow]"};
    std::string code(formatCode);
    for (const auto colour : colours) {
        for (auto found = code.find(colour); found != std::string::npos;
             found = code.find(colour, found)) {
            code.erase(found, colour.size());
        }
    }
    return code.find_first_of("dmyhs") != std::string::npos;
}

bool isBuiltinDateNumberFormatId(std::string_view numberFormatId) {
    return std::find(kBuiltinDateNumberFormatIds.begin(), kBuiltinDateNumberFormatIds.end(),
                     numberFormatId) != kBuiltinDateNumberFormatIds.end();
}

const std::vector<std::string>& builtinDateNumberFormatIds() {
    static const std::vector<std::string> ids(kBuiltinDateNumberFormatIds.begin(),
                                              kBuiltinDateNumberFormatIds.end());
    return ids;
}

namespace excel {

std::vector<WorkbookRelationship> readWorkbookRelationships(const ZipArchive& archive,
                                                            std::string_view entryName) {
    std::vector<WorkbookRelationship> relationships;
    auto document = parsePart(archive, entryName);
    if (!document) {
        writeLog(LogType::error, "Error initializing excel reader: '%{public}@'", document.error());
        return relationships;
    }
    const std::string query = "/" + step("Relationships") + "/" + step("Relationship");
    for (const auto& found : (*document)->select_nodes(query.c_str())) {
        const auto node = found.node();
        auto id = attributeValue(node, "Id");
        auto type = attributeValue(node, "Type");
        auto target = attributeValue(node, "Target");
        if (!id || !type || !target) continue;
        relationships.push_back(
            {std::move(*id), std::move(*type), std::move(*target), std::string(entryName)});
    }
    return relationships;
}

Expected<WorkbookPart, std::string> readWorkbook(
    const ZipArchive& archive, std::string_view entryName,
    const std::vector<WorkbookRelationship>& relationships) {
    auto document = parsePart(archive, entryName);
    if (!document) return Unexpected(document.error());
    WorkbookPart workbook;
    const std::string properties = "/" + step("workbook") + "/" + step("workbookPr");
    for (const auto& found : (*document)->select_nodes(properties.c_str())) {
        if (std::string_view(found.node().attribute("date1904").value()) == "1")
            workbook.dateSystem = DateSystem::mac1904;
    }
    const std::string sheetsQuery =
        "/" + step("workbook") + "/" + step("sheets") + "/" + step("sheet");
    for (const auto& found : (*document)->select_nodes(sheetsQuery.c_str())) {
        const auto node = found.node();
        Sheet sheet;
        sheet.displayName = attributeValue(node, "name").value_or("undefined");
        sheet.sheetId = integerValue(node.attribute("sheetId").value());
        sheet.relationshipId = relationshipAttribute(node, "id").value_or("undefined");
        const auto relationship = std::find_if(
            relationships.begin(), relationships.end(),
            [&](const auto& candidate) { return candidate.id == sheet.relationshipId; });
        if (relationship == relationships.end()) {
            writeLog(LogType::error,
                     "Could not find a workbook relationship whose id is '%{public}@'.",
                     sheet.relationshipId);
            std::string list;
            for (const auto& candidate : relationships) {
                list += "\n\tid: " + candidate.id + ", type: " + candidate.type +
                        ", target: " + candidate.target + ", path: " + candidate.pathInPackage;
            }
            writeLog(LogType::error, "Workbook relationships: %{public}@",
                     list.empty() ? "none" : list);
            sheet.pathInPackage = "undefined";
        } else if (relationship->target.starts_with("/")) {
            sheet.pathInPackage = resolvedTarget(relationship->target);
        } else if (relationship->pathInPackage.starts_with("xl/")) {
            sheet.pathInPackage = "xl/" + relationship->target;
        } else {
            sheet.pathInPackage = relationship->target;
        }
        workbook.sheets.push_back(std::move(sheet));
    }
    return workbook;
}

Styles readStyles(const ZipArchive& archive, std::string_view entryName) {
    Styles styles;
    auto document = parsePart(archive, entryName);
    if (!document) {
        writeLog(LogType::error, "Could not build cell formats table: '%{public}@'",
                 document.error());
        return styles;
    }
    const std::string formats =
        "/" + step("styleSheet") + "/" + step("numFmts") + "/" + step("numFmt");
    for (const auto& found : (*document)->select_nodes(formats.c_str())) {
        NumberFormat format;
        format.numberFormatId = found.node().attribute("numFmtId").value();
        format.numberFormatCode = found.node().attribute("formatCode").value();
        format.isDate = isDateFormatCode(format.numberFormatCode);
        styles.numberFormats.push_back(std::move(format));
    }
    const std::string cellFormats =
        "/" + step("styleSheet") + "/" + step("cellXfs") + "/" + step("xf");
    for (const auto& found : (*document)->select_nodes(cellFormats.c_str())) {
        styles.cellFormats.push_back({found.node().attribute("numFmtId").value()});
    }
    for (const auto& cellFormat : styles.cellFormats) {
        bool isDate = isBuiltinDateNumberFormatId(cellFormat.numberFormatId);
        if (!isDate) {
            const auto format =
                std::find_if(styles.numberFormats.begin(), styles.numberFormats.end(),
                             [&](const auto& candidate) {
                                 return candidate.numberFormatId == cellFormat.numberFormatId;
                             });
            isDate = format != styles.numberFormats.end() && format->isDate;
        }
        styles.cellFormatIsDate.push_back(isDate);
    }
    return styles;
}

}  // namespace excel
}  // namespace pelkora
