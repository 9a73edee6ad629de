#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>
#include <chrono>

class QWidget;

namespace velmora {

// Makes a screen reader speak the caption, the window's only status line: it
// keeps the window's accessible name, whose change readers announce, equal to
// the caption. A copy changes the caption many times a second, so a new
// caption is passed on at most kPerSecond times a second; one that comes
// sooner waits and is replaced by any newer one, so the last always comes.
// The end of a copy ("100% Complete") and the start caption ("Novi") are
// passed on at once.
class CaptionAnnouncer : public QObject {
    Q_OBJECT

public:
    static constexpr int kPerSecond = 3;
    static constexpr std::chrono::milliseconds kInterval{1000 / kPerSecond};

    explicit CaptionAnnouncer(QWidget& window);

private:
    void captionChanged(const QString& caption);
    void announce(const QString& caption);

    QWidget& m_window;
    QTimer m_waitingTurn;
    QElapsedTimer m_sinceLast;
    QString m_waiting;
};

} // namespace velmora
