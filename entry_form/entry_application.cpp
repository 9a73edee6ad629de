#include "entry_application.h"

#include "form_font.h"
#include "unhandled_failure.h"
#include "window_services.h"

#include <exception>

namespace velmora {

EntryApplication::EntryApplication(int& argc, char** argv, WindowServices* services)
    : QApplication(argc, argv),
      m_ownServices(services == nullptr ? std::make_unique<PlatformWindowServices>() : nullptr),
      m_services(services != nullptr ? services : m_ownServices.get()) {
    setApplicationName(QStringLiteral("Velmora2ADD"));
    setApplicationVersion(QStringLiteral("1.00"));
    // The common controls ready before the window: the style made now, not on
    // the first widget, and the form's font registered.
    static_cast<void>(style());
    loadFormFont();
}

EntryApplication::~EntryApplication() = default;

bool EntryApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        endWithUnhandledFailure(*m_services, std::current_exception());
    }
}

} // namespace velmora
