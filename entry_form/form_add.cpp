#include "entry_form/form_add.h"

#include "catalogue/add_operation.h"
#include "entry_form/caption_announcer.h"
#include "entry_form/file_dialog.h"
#include "entry_form/form_commands.h"
#include "entry_form/input_blocker.h"
#include "entry_form/window_services.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QDialog>
#include <QGuiApplication>
#include <QIcon>
#include <QLineEdit>
#include <QPushButton>
#include <cstdio>

namespace velmora {
namespace {

QString fromUtf8(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

} // namespace

FormAdd::FormAdd(FormSeams seams, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint),
      m_ownServices(seams.services == nullptr ? std::make_unique<PlatformWindowServices>()
                                              : nullptr),
      m_ownFileDialog(seams.fileDialog == nullptr ? std::make_unique<PlatformFileDialog>()
                                                  : nullptr),
      m_services(seams.services != nullptr ? seams.services : m_ownServices.get()),
      m_fileDialog(seams.fileDialog != nullptr ? seams.fileDialog : m_ownFileDialog.get()),
      m_add(seams.add ? std::move(seams.add) : AddAction([this](EntryWindow& w) {
          AddEnvironment environment;
          environment.cancel = &m_cancel;
          Dodaj(w, environment);
      })),
      m_controls(layOutForm(*this)), m_commands(std::make_unique<FormCommands>(*this)),
      m_announcer(new CaptionAnnouncer(*this)) {
    setObjectName(QStringLiteral("ADD"));
    setWindowTitle(QString::fromLatin1(kCaption));
}

void FormAdd::paintEvent(QPaintEvent* event) {
    QWidget::paintEvent(event);
    // The icon is read from its .ico through Qt's image plugins, a few
    // milliseconds of the start that the user does not see: it comes once the
    // window is on screen, just after its first paint.
    if (m_iconAsked) {
        return;
    }
    m_iconAsked = true;
    QMetaObject::invokeMethod(
        this, [this] { setWindowIcon(QIcon(QStringLiteral(":/icons/velmora2add.ico"))); },
        Qt::QueuedConnection);
}

FormAdd::~FormAdd() = default;

void FormAdd::runAdd() {
    if (m_addRunning) {
        return;
    }
    {
        // Izlaz stays live: it asks for the close, as the title bar does.
        const InputBlocker blocker(*this, m_controls.izlazButton);
        m_addRunning = true;
        struct Done {
            bool& running;
            ~Done() { running = false; }
        } const done{m_addRunning};
        m_add(*this);
        // Input that came during the add, queued here or still on its way
        // from the window system, goes through the blocker now: a click in
        // the add's last moments must not start a command after it.
        QGuiApplication::sync();
    }
    if (m_closeRequested) {
        m_closeRequested = false;
        close();
    }
}

std::string FormAdd::fieldText(Field field) {
    switch (field) {
    case Field::Program:
        return m_controls.program->text().toStdString();
    case Field::Opis:
        return m_controls.opis->text().toStdString();
    case Field::Kategorija:
        return m_controls.kategorija->currentText().toStdString();
    case Field::Source:
        return m_controls.source->text().toStdString();
    case Field::Slika:
        return m_controls.slika->text().toStdString();
    }
    return {};
}

void FormAdd::setCaption(std::string_view text) {
    setWindowTitle(fromUtf8(text));
}

void FormAdd::messageBox(std::string_view text, std::string_view title) {
    // Nobody is left to answer a box once the session ends: its text goes to
    // the session's log instead.
    if (m_ending) {
        std::fprintf(stderr, "Velmora2ADD: %.*s: %.*s\n", static_cast<int>(title.size()),
                     title.data(), static_cast<int>(text.size()), text.data());
        return;
    }
    m_services->messageBox(this, fromUtf8(text), fromUtf8(title));
}

void FormAdd::endSession() {
    m_ending = true;
    m_cancel = 1;
    // A box or file dialog open now runs an event loop of its own, inside a
    // command or the add; closing it lets that command go on to its end.
    for (QWidget* window : QApplication::topLevelWidgets()) {
        if (auto* dialog = qobject_cast<QDialog*>(window);
            dialog != nullptr && dialog->isVisible()) {
            dialog->reject();
        }
    }
    close();
}

void FormAdd::processPendingEvents() {
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

std::string FormAdd::applicationFolder() {
    return m_services->applicationFolder();
}

void FormAdd::closeEvent(QCloseEvent* event) {
    // Closing under a running add would pull the window from beneath it.
    if (m_addRunning) {
        m_closeRequested = true;
        event->ignore();
        return;
    }
    event->accept();
}

} // namespace velmora
