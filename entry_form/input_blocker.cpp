#include "entry_form/input_blocker.h"

#include <QApplication>
#include <QEvent>
#include <QWidget>

namespace velmora {
namespace {

bool isInput(QEvent::Type type) {
    switch (type) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::Wheel:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::ShortcutOverride:
    case QEvent::Shortcut:
    case QEvent::InputMethod:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
    case QEvent::TabletPress:
    case QEvent::TabletRelease:
    case QEvent::ContextMenu:
    case QEvent::DragEnter:
    case QEvent::DragMove:
    case QEvent::Drop:
        return true;
    default:
        return false;
    }
}

} // namespace

InputBlocker::InputBlocker(QWidget& window, QWidget* closeButton)
    : m_window(window), m_closeButton(closeButton) {
    m_focusPolicies.push_back({&window, window.focusPolicy()});
    for (QWidget* child : window.findChildren<QWidget*>()) {
        m_focusPolicies.push_back({child, child->focusPolicy()});
    }
    for (const FocusPolicy& saved : m_focusPolicies) {
        saved.widget->setFocusPolicy(Qt::FocusPolicy(saved.policy & ~Qt::ClickFocus));
    }
    QCoreApplication::instance()->installEventFilter(this);
    QApplication::setOverrideCursor(Qt::BusyCursor);
}

InputBlocker::~InputBlocker() {
    QApplication::restoreOverrideCursor();
    QCoreApplication::instance()->removeEventFilter(this);
    for (const FocusPolicy& saved : m_focusPolicies) {
        if (saved.widget != nullptr) {
            saved.widget->setFocusPolicy(saved.policy);
        }
    }
}

bool InputBlocker::eventFilter(QObject* watched, QEvent* event) {
    if (!isInput(event->type()) || !watched->isWidgetType()) {
        return false;
    }
    if (m_closeButton != nullptr && watched == m_closeButton.data()) {
        return false;
    }
    // A message box shown meanwhile is a window of its own and takes input.
    return static_cast<QWidget*>(watched)->window() == &m_window;
}

} // namespace velmora
