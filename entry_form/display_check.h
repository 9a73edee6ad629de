#pragma once

#include <QString>
#include <QtGlobal>
#include <optional>
#include <string>
#include <vector>

namespace velmora {

// Run before the application object is made, whose platform plugin aborts the
// process when it cannot reach a display. When Qt will start on a display
// server (its default, xcb or wayland) and neither DISPLAY nor WAYLAND_DISPLAY
// leads to one that accepts a connection, returns the one line to print on
// standard error; otherwise nothing. A platform without a display server
// (offscreen, vnc, linuxfb...) asked for with -platform or QT_QPA_PLATFORM is
// left to Qt.
std::optional<std::string> missingDisplay(int argc, char** argv);

// Lives while the application object is made, whose platform plugin ends the
// process when it finds no display (Qt's fatal message with a list of
// plugins). That fatal message ends the process instead with status 1 and the
// one line of missingDisplay(), so the display is checked only when Qt has
// failed to reach one and a start with a display opens no connection of its
// own. Qt's other messages meanwhile are held back and go out, as Qt would
// have written them, when it ends; one at a time may live.
class DisplayFailureReport {
public:
    DisplayFailureReport(int argc, char** argv);
    ~DisplayFailureReport();
    DisplayFailureReport(const DisplayFailureReport&) = delete;
    DisplayFailureReport& operator=(const DisplayFailureReport&) = delete;

private:
    struct Held {
        QtMsgType type;
        std::string category;
        QString text;
    };
    static void handle(QtMsgType type, const QMessageLogContext& context, const QString& text);
    void release();

    int m_argc;
    char** m_argv;
    QtMessageHandler m_previous;
    std::vector<Held> m_held;
};

} // namespace velmora
