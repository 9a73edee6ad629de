#include "catalogue/failure.h"

#include <new>

namespace velmora {

Failure describeFailure(std::exception_ptr thrown) {
    try {
        std::rethrow_exception(thrown);
    } catch (const Failure& failure) {
        return failure;
    } catch (const std::bad_alloc&) {
        return {kOutOfMemoryNumber, "Out of memory"};
    } catch (const std::exception& e) {
        return {kStandardExceptionNumber, e.what()};
    } catch (...) {
        return {kUnknownExceptionNumber, "Nepoznata greška"};
    }
}

std::string failureText(const Failure& failure, std::string_view lineBreak) {
    std::string text = "BROJ: " + std::to_string(failure.number);
    text += lineBreak;
    text += "OPIS: ";
    text += failure.description;
    return text;
}

} // namespace velmora
