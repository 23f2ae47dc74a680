#include <algorithm>
#include <limits>
#include <string>

#include "input/Drawings_p.h"
#include "input/PackageParts_p.h"
#include "input/WorkbookValues_p.h"
#include "support/Logger.h"

namespace pelkora::excel {
namespace {

const std::string& relationshipsQuery() {
    static const std::string query = "/" + step("Relationships") + "/" + step("Relationship");
    return query;
}

// The package paths of the drawings the sheet's relationships name, in document order; none
// when the sheet has no relationships part.
std::vector<std::string> drawingPathsOf(const ZipArchive& archive, const Sheet& sheet,
                                        InflationBudget* budget) {
    std::vector<std::string> paths;
    auto relationships = parsePart(archive, relationshipsPathOf(sheet.pathInPackage), budget);
    if (!relationships) return paths;
    for (const auto& found : (*relationships)->select_nodes(relationshipsQuery().c_str())) {
        const auto relationship = found.node();
        if (std::string_view(relationship.attribute("Type").value()).ends_with("/drawing"))
            paths.push_back(resolvedTarget(relationship.attribute("Target").value()));
    }
    return paths;
}

// The image relationships of the drawing, in document order; none when it has no
// relationships part.
std::vector<ImageRelationship> imageRelationshipsOf(const ZipArchive& archive,
                                                    const std::string& drawingPath,
                                                    std::int64_t sheetId, InflationBudget* budget) {
    std::vector<ImageRelationship> images;
    auto relationships = parsePart(archive, relationshipsPathOf(drawingPath), budget);
    if (!relationships) return images;
    for (const auto& found : (*relationships)->select_nodes(relationshipsQuery().c_str())) {
        const auto node = found.node();
        if (!std::string_view(node.attribute("Type").value()).ends_with("/image")) continue;
        images.push_back({node.attribute("Id").value(), node.attribute("Type").value(),
                          node.attribute("Target").value(), std::to_string(sheetId)});
    }
    return images;
}

// Appends a picture for each anchor of the drawing that names a cell and one of the images.
void appendAnchoredImages(const pugi::xml_document& drawing,
                          const std::vector<ImageRelationship>& images,
                          std::vector<AnchoredImage>& anchoredImages) {
    const std::string anchors = "*/*[local-name()='oneCellAnchor' or local-name()='twoCellAnchor']";
    for (const auto& found : drawing.select_nodes(anchors.c_str())) {
        const auto anchor = found.node();
        const auto from = anchor.select_node(step("from").c_str()).node();
        const auto column = from.select_node(step("col").c_str()).node();
        const auto row = from.select_node(step("row").c_str()).node();
        const auto blip =
            anchor.select_node((step("pic") + "/" + step("blipFill") + "/" + step("blip")).c_str())
                .node();
        const auto embed = relationshipAttribute(blip, "embed");
        if (!from || !column || !row || !blip || !embed) continue;
        const auto image = std::find_if(images.begin(), images.end(), [&](const auto& candidate) {
            return candidate.id == *embed;
        });
        if (image == images.end()) continue;
        AnchoredImage anchored;
        anchored.relationshipId = *embed;
        anchored.pathInPackage = resolvedTarget(image->target);
        // The file counts from 0; a picture keeps a 1-based cell that fits 32 bits.
        const auto clamp = [](std::int64_t value) {
            return std::clamp<std::int64_t>(value, -1,
                                            std::numeric_limits<std::int32_t>::max() - 1);
        };
        anchored.row = clamp(integerValue(row.child_value())) + 1;
        anchored.column = clamp(integerValue(column.child_value())) + 1;
        anchoredImages.push_back(std::move(anchored));
    }
}

}  // namespace

// Reading a sheet's pictures:
//   1. the sheet's relationships name its drawings,
//   2. each drawing's relationships name its images,
//   3. each anchor of the drawing places one of those images over a cell;
// then the pictures are sorted by row, so that each row finds its own by bisection.
SheetDrawings readSheetDrawings(const ZipArchive& archive, const Sheet& sheet,
                                InflationBudget* budget) {
    SheetDrawings drawings;
    for (const auto& drawingPath : drawingPathsOf(archive, sheet, budget)) {
        const auto images = imageRelationshipsOf(archive, drawingPath, sheet.sheetId, budget);
        drawings.imageRelationships.insert(drawings.imageRelationships.end(), images.begin(),
                                           images.end());
        auto drawing = parsePart(archive, drawingPath, budget);
        if (!drawing) {
            writeLog(LogType::error, "Error while parsing sheet '%{public}@': %{public}@",
                     sheet.displayName, drawing.error());
            continue;
        }
        appendAnchoredImages(**drawing, images, drawings.anchoredImages);
    }
    std::stable_sort(drawings.anchoredImages.begin(), drawings.anchoredImages.end(),
                     [](const auto& left, const auto& right) { return left.row < right.row; });
    return drawings;
}

}  // namespace pelkora::excel
