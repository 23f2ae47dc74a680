#include "session/ImportError.h"

#include "support/Localization.h"

namespace pelkora {

std::string localizedDescription(ImportError error) {
    switch (error) {
        case ImportError::unknownFormat:
            return localizedString("The file format is not supported.");
        case ImportError::unreadableTextFile:
            return localizedString("The content of the file could not be read.");
        case ImportError::unreadableExcelFile:
            return localizedString("The Excel file could not be read.");
        case ImportError::unsupportedExcel97Workbook:
            return localizedString("The legacy Excel 97–2004 Workbook format is not supported.");
        case ImportError::vCard:
            return localizedString(
                "The file is a vCard. Open vCard files on their own to import them with their "
                "groups.");
        case ImportError::unsupportedBinarySpreadsheet:
            return localizedString("The Excel Binary Workbook format is not supported.");
        case ImportError::numbersSpreadsheet:
            return localizedString("Apple Numbers spreadsheets are not supported.");
        case ImportError::openDocumentSpreadsheet:
            return localizedString("OpenDocument spreadsheets are not supported.");
        case ImportError::protectedExcelFile:
            return localizedString(
                "The Excel file is protected with a password. Save a copy without the "
                "password, for example with LibreOffice Calc, and try again.");
        case ImportError::permissionDenied:
            return localizedString("The file is not readable: permission denied.");
        case ImportError::notARegularFile:
            return localizedString("This is not a regular file.");
    }
    return {};
}

OpenErrorPresentation presentationOf(ImportError error) {
    const std::string cannotOpen = localizedString("Could not open file.", "Alert box heading");
    switch (error) {
        case ImportError::unknownFormat:
            return {localizedString("Unsupported file format"),
                    localizedString(
                        "Please provide an Excel file, a text file, or one or more vCards.")};
        case ImportError::unreadableTextFile:
            return {cannotOpen, localizedString("The content of the file could not be read.")};
        case ImportError::unreadableExcelFile:
            return {
                cannotOpen,
                localizedString(
                    "This Excel file is either protected with a password or it is damaged or it "
                    "is not an Excel file at all. Re-save the file as .xlsx, for example with "
                    "LibreOffice Calc (soffice --convert-to xlsx FILE), and try again.")};
        case ImportError::unsupportedExcel97Workbook:
            return {
                cannotOpen,
                localizedString(
                    "The legacy “Excel 97–2004 Workbook” file format is not supported. Re-save the "
                    "file as .xlsx, for example with LibreOffice Calc: soffice --convert-to xlsx "
                    "FILE")};
        case ImportError::unsupportedBinarySpreadsheet:
            return {cannotOpen,
                    localizedString(
                        "The “Excel Binary Workbook” file format is not supported. Re-save the "
                        "file as .xlsx, for example with LibreOffice Calc: soffice --convert-to "
                        "xlsx FILE")};
        case ImportError::numbersSpreadsheet:
            return {cannotOpen,
                    localizedString(
                        "Apple Numbers spreadsheets are not supported. Re-save the file as "
                        ".xlsx, for example with LibreOffice Calc: soffice --convert-to xlsx "
                        "FILE")};
        case ImportError::openDocumentSpreadsheet:
            return {
                cannotOpen,
                localizedString(
                    "OpenDocument spreadsheets are not supported. Re-save the file as .xlsx, for "
                    "example with LibreOffice Calc: soffice --convert-to xlsx FILE")};
        case ImportError::permissionDenied:
            return {cannotOpen,
                    localizedString("The file is not readable: permission denied. "
                                    "Check its permissions (ls -l FILE) and try again.")};
        case ImportError::notARegularFile:
            return {cannotOpen,
                    localizedString("This is not a regular file: folders, devices and named "
                                    "pipes cannot be imported. Save the data into a file and "
                                    "open that.")};
        case ImportError::vCard:
        case ImportError::protectedExcelFile:
            break;
    }
    return {localizedString("The operation couldn’t be completed."), localizedDescription(error)};
}

std::string_view importErrorName(ImportError error) {
    switch (error) {
        case ImportError::unknownFormat:
            return "unknownFormat";
        case ImportError::unreadableTextFile:
            return "unreadableTextFile";
        case ImportError::unreadableExcelFile:
            return "unreadableExcelFile";
        case ImportError::unsupportedExcel97Workbook:
            return "unsupportedExcel97Workbook";
        case ImportError::vCard:
            return "vCard";
        case ImportError::unsupportedBinarySpreadsheet:
            return "unsupportedBinarySpreadsheet";
        case ImportError::numbersSpreadsheet:
            return "numbersSpreadsheet";
        case ImportError::openDocumentSpreadsheet:
            return "openDocumentSpreadsheet";
        case ImportError::protectedExcelFile:
            return "protectedExcelFile";
        case ImportError::permissionDenied:
            return "permissionDenied";
        case ImportError::notARegularFile:
            return "notARegularFile";
    }
    return "unknown";
}

}  // namespace pelkora
