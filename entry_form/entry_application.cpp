#include "entry_form/entry_application.h"

#include "entry_form/folder_compose_tables.h"
#include "entry_form/form_accessibility.h"
#include "entry_form/form_font.h"
#include "entry_form/form_style.h"
#include "entry_form/unhandled_failure.h"
#include "entry_form/window_services.h"
#include "version.h"

#include <exception>

namespace velmora {
namespace {

int& beforeApplication(int& argc) {
    useFolderFontConfig();
    useFolderComposeTables();
    return argc;
}

} // namespace

EntryApplication::EntryApplication(int& argc, char** argv, WindowServices* services)
    : QApplication(beforeApplication(argc), argv),
      m_ownServices(services == nullptr ? std::make_unique<PlatformWindowServices>() : nullptr),
      m_services(services != nullptr ? services : m_ownServices.get()) {
    setApplicationName(QStringLiteral("Velmora2ADD"));
    setApplicationVersion(QString::fromLatin1(kVersion));
    // The common controls ready before the window: the style made now, not on
    // the first widget, and the form's font registered and made the font of
    // every window, message boxes and file dialogs included, and the form's
    // accessible interfaces known before any is asked for. The application
    // owns the style.
    setStyle(new FormStyle);
    loadFormFont();
    setFont(formFont());
    installFormAccessibility();
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
