#pragma once

// The syntax of a sheet part: a state machine over the pull scanner's tokens that finds the
// rows of the sheet data and the cells of each row, and hands them to a receiver as they
// end. It reads the cells' attributes and the characters of their values, but gives them no
// meaning: shared strings, number formats and dates are the receiver's business.
//
//                                       outsideWorksheet
//   <worksheet>                         outsideSheetData
//     <dimension ref="A1:C3"/>          (the row count the sheet claims)
//     <sheetData>                       inSheetData
//       <row>                           inRow
//         <c r="A1" t="s" s="1">        inCell
//           <v>0</v>                    inValue
//           <is>                        inInlineString
//             <r><t>text</t></r>        inInlineText
//             <rPh><t>…</t></rPh>       inPhoneticReading
//
// Each state belongs to an element at a fixed depth (the worksheet is 1, a cell 4); an
// element the state does not expect is skipped with everything inside it, so only the
// element's own end leads back out of a state. Rows are numbered as they come, 1 for the
// first row element, whatever their "r" attribute says: a skipped spreadsheet row leaves no
// gap. A cell without an "r" reference follows the cell before it in its row. A cell whose
// reference lies beyond XFD1048576 is reported as faulty without its value, and a cell's text
// stops growing at kMaximumCellTextSize bytes.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "input/XmlPullScanner_p.h"
#include "support/Expected.h"

namespace pelkora::excel {

// A cell's "t" attribute; any type not named here is read as a number.
enum class CellType { number, boolean, date, error, formulaString, inlineString, sharedString };

// Returns the type a cell's "t" attribute names: "s", "str", "inlineStr", "b", "d", "e", and
// number for anything else.
CellType cellTypeOf(std::string_view type);

// What is wrong with a cell; the parser reports such cells too, and the receiver decides.
enum class CellFault {
    none,
    // The cell's reference lies beyond the last cell a sheet can have; its value is not read.
    beyondLastCell,
    // The cell's text was longer than kMaximumCellTextSize and was cut.
    textCut,
};

// A cell as the sheet part writes it.
struct SheetCell {
    // 0-based.
    std::int64_t columnIndex = 0;
    CellType type = CellType::number;
    // The "s" attribute read as an integer; 0 when absent.
    std::int64_t styleIndex = 0;
    // The characters of the cell's first "v" element, references replaced; empty when it has
    // none.
    std::string_view value;
    // The characters of the "t" elements of the cell's inline strings, rich-text runs joined
    // and phonetic readings left out; empty when it has none.
    std::string_view inlineText;
    CellFault fault = CellFault::none;
    // The cell's "r" attribute (its first bytes only); empty when it has none.
    std::string_view reference;
};

// Receives what the sheet parser finds, in document order, on the thread that runs it.
class SheetReceiver {
  public:
    virtual ~SheetReceiver() = default;

    // The sheet's "dimension" claims this many rows; a claim only, the rows may be fewer.
    virtual void sheetDidDeclareRowCount(std::uint64_t rowCount) = 0;
    // The sheet data begins; no row has been found yet.
    virtual void sheetDataDidBegin() = 0;
    // Returns whether to stop before the next row; asked once before each row.
    virtual bool shouldStopBeforeRow() = 0;
    // A row begins; rowNumber counts the rows from 1 in document order.
    virtual void rowDidBegin(std::int64_t rowNumber) = 0;
    // A cell of the current row has ended; the cell's texts are valid during the call only.
    virtual void cellDidEnd(const SheetCell& cell) = 0;
    // The current row has ended.
    virtual void rowDidEnd(std::int64_t rowNumber) = 0;
};

// How a parse of a sheet part ended, when it was not stopped by an error.
enum class SheetParseEnd { endOfPart, stoppedBeforeRow };

class SheetParser {
  public:
    // Parses the tokens of the scanner, reporting to the receiver; the part path only names
    // the part in error messages. All three must outlive the parser.
    SheetParser(xml::XmlPullScanner& scanner, SheetReceiver& receiver, std::string_view partPath);

    // Runs to the end of the part, or until the receiver asks to stop before a row. Returns
    // why the part could not be read when it is not well-formed XML; the rows reported before
    // the error stay reported, and a row begun is not ended. Cell attributes it does not
    // know are logged when it returns, once each with the number of cells that had them.
    Expected<SheetParseEnd, std::string> parse();

  private:
    Expected<SheetParseEnd, std::string> parseTokens();
    void countUnhandledAttribute(std::string_view name);
    void logUnhandledAttributes();

    enum class State {
        outsideWorksheet,
        outsideSheetData,
        inSheetData,
        inRow,
        inCell,
        inValue,
        inInlineString,
        inInlineText,
        inPhoneticReading,
    };

    // Returns false when the receiver asked to stop.
    bool elementDidStart();
    void elementDidEnd();
    // Returns false when the text holds a reference to no character.
    bool textDidArrive();
    bool appendCellText(std::string& text);

    void readDimension();
    void beginSheetData();
    void beginRow();
    void beginCell();
    void beginValue();
    void beginInlineString();
    void beginInlineText(std::size_t depth);
    void beginPhoneticReading(std::size_t depth);
    void endPhoneticReading();
    void endCell();
    void endRow();

    // The error texts, naming the part.
    std::string notWellFormed() const;
    std::string referenceToNoCharacter() const;

    xml::XmlPullScanner& scanner_;
    SheetReceiver& receiver_;
    std::string_view partPath_;

    State state_ = State::outsideWorksheet;
    std::int64_t rowNumber_ = 0;
    std::int64_t previousColumnIndex_ = -1;
    // The cell being read; its texts are kept between cells so that their room is reused.
    SheetCell cell_;
    bool valueSeen_ = false;
    std::string value_;
    std::string inlineText_;
    std::string reference_;
    // The depths of the "t" and "rPh" elements open in an inline string; 0 when none is.
    std::size_t textDepth_ = 0;
    std::size_t phoneticDepth_ = 0;
    // The cell attributes met that the parser does not read, in the order first met, with
    // the number of cells that had each.
    std::vector<std::pair<std::string, std::uint64_t>> unhandledAttributes_;
};

}  // namespace pelkora::excel
