#include "entry_form/unhandled_failure.h"

#include "catalogue/failure.h"
#include "entry_form/window_services.h"

#include <cstdio>
#include <cstdlib>

namespace velmora {

UnhandledFailure describeFailure(std::exception_ptr failure) {
    try {
        std::rethrow_exception(failure);
    } catch (const Failure& f) {
        return {f.number, QString::fromStdString(f.description)};
    } catch (const std::exception& e) {
        return {kStandardExceptionNumber, QString::fromUtf8(e.what())};
    } catch (...) {
        return {kUnknownExceptionNumber, QStringLiteral("Nepoznata greška")};
    }
}

QString unhandledFailureText(const UnhandledFailure& failure) {
    return QStringLiteral("BROJ: %1\nOPIS: %2").arg(failure.number).arg(failure.description);
}

void endWithUnhandledFailure(WindowServices& services, std::exception_ptr failure) {
    const UnhandledFailure described = describeFailure(failure);
    std::fprintf(stderr, "Velmora2ADD: unhandled failure %d: %s\n",
                 static_cast<int>(described.number),
                 described.description.toLocal8Bit().constData());
    try {
        services.messageBox(nullptr, unhandledFailureText(described), QStringLiteral("GRESKA"));
    } catch (...) {
        // The report above on stderr stands when even the box fails.
    }
    std::fflush(nullptr);
    std::_Exit(kUnhandledFailureExitStatus);
}

} // namespace velmora
