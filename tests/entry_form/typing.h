#pragma once

#include <QApplication>
#include <QKeyEvent>
#include <QWidget>

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

} // namespace velmora::testing
