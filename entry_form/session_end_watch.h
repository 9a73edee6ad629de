#pragma once

#include <QObject>

class QSocketNotifier;

namespace velmora {

// The ways a session ends besides the window's own commands: SIGTERM (a
// shutdown, kill), SIGHUP (logout, the terminal that started the window
// closed), SIGINT and SIGQUIT (Ctrl-C, Ctrl-\ in that terminal) and every
// other signal of endingSignals() arrive as ended() on the window's thread, during an add too,
// since the add keeps the window's events running; so the copy under way can be cancelled and its
// temporary file removed before the program ends. The loss of the display ends the program inside
// Qt, through exit(): the copies that are running then are stopped at exit. A signal that the
// parent set to be ignored stays ignored. One per process.
class SessionEndWatch : public QObject {
    Q_OBJECT

public:
    explicit SessionEndWatch(QObject* parent = nullptr);
    // Puts the signals' previous actions back.
    ~SessionEndWatch() override;
    SessionEndWatch(const SessionEndWatch&) = delete;
    SessionEndWatch& operator=(const SessionEndWatch&) = delete;

    // The first signal received, or 0.
    int received() const { return m_received; }

signals:
    void ended(int signal);

private:
    void readSignals();

    int m_received = 0;
    int m_readEnd = -1;
    QSocketNotifier* m_notifier = nullptr;
};

} // namespace velmora
