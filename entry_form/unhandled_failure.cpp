#include "entry_form/unhandled_failure.h"

#include "catalogue/failure.h"
#include "entry_form/window_services.h"

#include <cstdio>
#include <cstdlib>

namespace velmora {

void endWithUnhandledFailure(WindowServices& services, std::exception_ptr failure) {
    const Failure described = describeFailure(failure);
    std::fprintf(stderr, "Velmora2ADD: unhandled failure %d: %s\n",
                 static_cast<int>(described.number), described.description.c_str());
    try {
        // One line feed between the lines: this box is the window system's,
        // not the add's.
        services.messageBox(nullptr, QString::fromStdString(failureText(described, "\n")),
                            QStringLiteral("GRESKA"));
    } catch (...) {
        // The report above on stderr stands when even the box fails.
    }
    std::fflush(nullptr);
    std::_Exit(kUnhandledFailureExitStatus);
}

} // namespace velmora
