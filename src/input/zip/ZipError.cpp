#include "input/zip/ZipError.h"

namespace pelkora {

std::optional<int> ZipError::code() const {
    switch (kind) {
        case ZipErrorKind::readFailed:
            return 0;
        case ZipErrorKind::endOfCentralDirectoryInvalid:
            return 1;
        case ZipErrorKind::centralFileHeaderInvalid:
            return 2;
        case ZipErrorKind::localFileHeaderInvalid:
            return 3;
        case ZipErrorKind::unsupportedCompressionMethod:
            return 9;
        case ZipErrorKind::unsupportedEncryption:
            return 10;
        case ZipErrorKind::wrongPassword:
            return 12;
        case ZipErrorKind::contentUnreadable:
        case ZipErrorKind::entryNotFound:
            return std::nullopt;
    }
    return std::nullopt;
}

}  // namespace pelkora
