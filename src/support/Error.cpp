#include "support/Error.h"

#include <exception>

namespace pelkora {

std::string currentExceptionText() {
    try {
        throw;
    } catch (const std::exception& exception) {
        return exception.what();
    } catch (...) {
        return "an exception of unknown type";
    }
}

}  // namespace pelkora
