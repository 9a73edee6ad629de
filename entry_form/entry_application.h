#pragma once

#include <QApplication>
#include <memory>

namespace velmora {

class WindowServices;

// The program's application object. Construction prepares what every window
// needs before the first is built (the style, the form's font); notify() is the
// last resort for a failure that escapes an event handler or a command.
class EntryApplication : public QApplication {
    Q_OBJECT

public:
    // `services` shows the last-resort box; null for the platform's own.
    EntryApplication(int& argc, char** argv, WindowServices* services = nullptr);
    ~EntryApplication() override;

    bool notify(QObject* receiver, QEvent* event) override;

    WindowServices& services() { return *m_services; }

private:
    std::unique_ptr<WindowServices> m_ownServices;
    WindowServices* m_services;
};

} // namespace velmora
