#include <optional>
#include <vector>

#include "input/ExcelReader.h"
#include "input/SheetParser_p.h"
#include "input/WorkbookValues_p.h"
#include "support/Format.h"
#include "support/Localization.h"
#include "support/Logger.h"

namespace pelkora::excel {
namespace {

using xml::XmlPullScanner;

// The depths of the elements the states belong to.
constexpr std::size_t kWorksheetDepth = 1;
constexpr std::size_t kSheetDataDepth = 2;
constexpr std::size_t kRowDepth = 3;
constexpr std::size_t kCellDepth = 4;
constexpr std::size_t kCellChildDepth = 5;

// Whether an element's local name is the given one; names are a few bytes long, so a loop
// beats the call of memcmp.
bool nameIs(std::string_view name, std::string_view wanted) {
    if (name.size() != wanted.size()) return false;
    for (std::size_t index = 0; index < name.size(); ++index) {
        if (name[index] != wanted[index]) return false;
    }
    return true;
}

// The first attribute with this exact name, or none.
std::optional<std::string_view> attributeNamed(const std::vector<xml::XmlAttribute>& attributes,
                                               std::string_view name) {
    for (const auto& attribute : attributes) {
        if (attribute.qualifiedName == name) return attribute.rawValue;
    }
    return std::nullopt;
}

}  // namespace

CellType cellTypeOf(std::string_view type) {
    if (type == "s") return CellType::sharedString;
    if (type == "str") return CellType::formulaString;
    if (type == "inlineStr") return CellType::inlineString;
    if (type == "b") return CellType::boolean;
    if (type == "d") return CellType::date;
    if (type == "e") return CellType::error;
    return CellType::number;
}

SheetParser::SheetParser(XmlPullScanner& scanner, SheetReceiver& receiver,
                         std::string_view partPath)
    : scanner_(scanner), receiver_(receiver), partPath_(partPath) {}

Expected<SheetParseEnd, std::string> SheetParser::parse() {
    auto result = parseTokens();
    logUnhandledAttributes();
    return result;
}

Expected<SheetParseEnd, std::string> SheetParser::parseTokens() {
    while (true) {
        switch (scanner_.next()) {
            case XmlPullScanner::Token::endOfDocument:
                return SheetParseEnd::endOfPart;
            case XmlPullScanner::Token::error:
                return Unexpected(notWellFormed());
            case XmlPullScanner::Token::startElement:
                if (!elementDidStart()) return SheetParseEnd::stoppedBeforeRow;
                break;
            case XmlPullScanner::Token::endElement:
                elementDidEnd();
                break;
            case XmlPullScanner::Token::text:
                if (!textDidArrive()) return Unexpected(referenceToNoCharacter());
                break;
        }
    }
}

void SheetParser::countUnhandledAttribute(std::string_view name) {
    for (auto& [known, cells] : unhandledAttributes_) {
        if (known == name) {
            ++cells;
            return;
        }
    }
    unhandledAttributes_.emplace_back(std::string(name), 1);
}

// One entry per attribute and sheet: a workbook that marks a million cells with the same
// attribute would otherwise write a million entries.
void SheetParser::logUnhandledAttributes() {
    for (const auto& [name, cells] : unhandledAttributes_) {
        writeLog(LogType::error, "Unhandled attribute in cell node: %{public}@",
                 name + " (" + std::to_string(cells) + (cells == 1 ? " cell)" : " cells)"));
    }
    unhandledAttributes_.clear();
}

bool SheetParser::elementDidStart() {
    const std::size_t depth = scanner_.depth();
    const std::string_view name = scanner_.localName();
    switch (state_) {
        case State::outsideWorksheet:
            if (depth == kWorksheetDepth && nameIs(name, "worksheet"))
                state_ = State::outsideSheetData;
            break;
        case State::outsideSheetData:
            if (depth != kSheetDataDepth) break;
            if (nameIs(name, "sheetData")) {
                beginSheetData();
            } else if (nameIs(name, "dimension")) {
                readDimension();
            }
            break;
        case State::inSheetData:
            if (depth == kRowDepth && nameIs(name, "row")) {
                if (receiver_.shouldStopBeforeRow()) return false;
                beginRow();
            }
            break;
        case State::inRow:
            if (depth == kCellDepth && nameIs(name, "c")) beginCell();
            break;
        case State::inCell:
            if (depth != kCellChildDepth) break;
            // Only the first value counts.
            if (nameIs(name, "v") && !valueSeen_) {
                beginValue();
            } else if (nameIs(name, "is")) {
                beginInlineString();
            }
            break;
        case State::inInlineString:
            // Runs ("r") and their properties are looked through: any "t" inside the inline
            // string is text, unless it is part of a phonetic reading.
            if (nameIs(name, "rPh")) {
                beginPhoneticReading(depth);
            } else if (nameIs(name, "t")) {
                beginInlineText(depth);
            }
            break;
        case State::inInlineText:
            if (nameIs(name, "rPh")) beginPhoneticReading(depth);
            break;
        case State::inValue:
        case State::inPhoneticReading:
            break;
    }
    return true;
}

void SheetParser::elementDidEnd() {
    const std::size_t depth = scanner_.depth();
    switch (state_) {
        case State::outsideWorksheet:
        case State::outsideSheetData:
            break;
        case State::inSheetData:
            if (depth == kSheetDataDepth) state_ = State::outsideSheetData;
            break;
        case State::inRow:
            if (depth == kRowDepth) endRow();
            break;
        case State::inCell:
            if (depth == kCellDepth) endCell();
            break;
        case State::inValue:
        case State::inInlineString:
            if (depth == kCellChildDepth) state_ = State::inCell;
            break;
        case State::inInlineText:
            if (depth == textDepth_) {
                textDepth_ = 0;
                state_ = State::inInlineString;
            }
            break;
        case State::inPhoneticReading:
            if (depth == phoneticDepth_) endPhoneticReading();
            break;
    }
}

bool SheetParser::textDidArrive() {
    if (state_ == State::inValue) return appendCellText(value_);
    if (state_ == State::inInlineText) return appendCellText(inlineText_);
    return true;
}

bool SheetParser::appendCellText(std::string& text) {
    // The value of a cell that is left out is not read at all, and a text cut ends there.
    if (cell_.fault != CellFault::none) return true;
    switch (appendLimitedText(scanner_, text, kMaximumCellTextSize)) {
        case LimitedTextResult::appended:
            return true;
        case LimitedTextResult::cut:
            cell_.fault = CellFault::textCut;
            return true;
        case LimitedTextResult::referenceToNoCharacter:
            return false;
    }
    return true;
}

// The used range ("A1:T1000") tells how many rows to expect.
void SheetParser::readDimension() {
    const auto range = attributeNamed(scanner_.attributes(), "ref");
    if (!range) return;
    const auto colon = range->find(':');
    const auto first = CellReference::fromString(range->substr(0, colon));
    const auto last = colon == std::string_view::npos
                          ? first
                          : CellReference::fromString(range->substr(colon + 1));
    if (last.row >= first.row)
        receiver_.sheetDidDeclareRowCount(static_cast<std::uint64_t>(last.row - first.row + 1));
}

void SheetParser::beginSheetData() {
    state_ = State::inSheetData;
    receiver_.sheetDataDidBegin();
}

void SheetParser::beginRow() {
    state_ = State::inRow;
    ++rowNumber_;
    previousColumnIndex_ = -1;
    receiver_.rowDidBegin(rowNumber_);
}

void SheetParser::beginCell() {
    state_ = State::inCell;
    cell_ = SheetCell();
    valueSeen_ = false;
    value_.clear();
    inlineText_.clear();
    std::optional<std::string_view> reference;
    for (const auto& attribute : scanner_.attributes()) {
        if (nameIs(attribute.qualifiedName, "r")) {
            reference = attribute.rawValue;
        } else if (nameIs(attribute.qualifiedName, "t")) {
            cell_.type = cellTypeOf(attribute.rawValue);
        } else if (nameIs(attribute.qualifiedName, "s")) {
            cell_.styleIndex = integerValue(attribute.rawValue);
        } else {
            countUnhandledAttribute(attribute.qualifiedName);
        }
    }
    // A cell written without a reference follows the cell before it, as the file format
    // defines; taking every such cell for A1 would pile a row's cells into one column.
    cell_.columnIndex = reference ? columnOfReference(*reference) - 1 : previousColumnIndex_ + 1;
    previousColumnIndex_ = cell_.columnIndex;
    // A few bytes name the cell in a report; the attribute itself may be of any length.
    constexpr std::size_t kReferenceShown = 24;
    reference_.assign(reference ? reference->substr(0, kReferenceShown) : std::string_view());
    if (cell_.columnIndex >= kLastColumnNumber ||
        (reference && rowOfReference(*reference) > kLastRowNumber)) {
        cell_.fault = CellFault::beyondLastCell;
    }
}

void SheetParser::beginValue() {
    state_ = State::inValue;
    valueSeen_ = true;
}

// A second inline string in one cell adds to the text of the first.
void SheetParser::beginInlineString() {
    state_ = State::inInlineString;
}

void SheetParser::beginInlineText(std::size_t depth) {
    state_ = State::inInlineText;
    textDepth_ = depth;
}

void SheetParser::beginPhoneticReading(std::size_t depth) {
    state_ = State::inPhoneticReading;
    phoneticDepth_ = depth;
}

// A phonetic reading may sit inside a "t" element; the text goes on after it.
void SheetParser::endPhoneticReading() {
    phoneticDepth_ = 0;
    state_ = textDepth_ != 0 ? State::inInlineText : State::inInlineString;
}

void SheetParser::endCell() {
    state_ = State::inRow;
    cell_.value = value_;
    cell_.inlineText = inlineText_;
    cell_.reference = reference_;
    receiver_.cellDidEnd(cell_);
}

void SheetParser::endRow() {
    state_ = State::inSheetData;
    receiver_.rowDidEnd(rowNumber_);
}

std::string SheetParser::notWellFormed() const {
    return formatMessage(localizedString("the part “%1$@” is not well-formed XML: %2$@."),
                         partPath_, scanner_.errorMessage());
}

std::string SheetParser::referenceToNoCharacter() const {
    return formatMessage(
        localizedString("the part “%@” holds a character reference to no character."), partPath_);
}

}  // namespace pelkora::excel
