#pragma once

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QWidget>

// Input for window tests, sent at once or posted to the event queue as the
// window system would deliver it.
namespace velmora::testing {

// Types `text` into `widget` one key at a time, any character (QTest's own
// keyClicks takes Latin-1 only).
inline void typeInto(QWidget* widget, const QString& text) {
    for (const QChar c : text) {
        for (const QEvent::Type type : {QEvent::KeyPress, QEvent::KeyRelease}) {
            QKeyEvent event(type, Qt::Key_unknown, Qt::NoModifier, QString(c));
            QApplication::sendEvent(widget, &event);
        }
    }
}

// Queues the key presses and releases of `text` for `field`.
inline void postTyping(QWidget* field, const QString& text) {
    for (const QChar c : text) {
        for (const QEvent::Type type : {QEvent::KeyPress, QEvent::KeyRelease}) {
            QCoreApplication::postEvent(field,
                                        new QKeyEvent(type, Qt::Key_unknown, Qt::NoModifier, c));
        }
    }
}

// A left click on the middle of a button; measured on the window's thread,
// posted from any thread.
class Click {
public:
    explicit Click(QWidget* button)
        : m_button(button), m_middle(QRectF(button->rect()).center()),
          m_global(button->mapToGlobal(m_middle)) {}

    // Queues the press and the release; the queue owns the events.
    void post() const {
        for (const QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease}) {
            QCoreApplication::postEvent(
                m_button,
                new QMouseEvent(type, m_middle, m_global, Qt::LeftButton,
                                type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton,
                                Qt::NoModifier));
        }
    }

private:
    QWidget* m_button;
    QPointF m_middle;
    QPointF m_global;
};

inline void postClick(QWidget* button) {
    Click(button).post();
}

} // namespace velmora::testing
