#include "entry_form/display_check.h"

#include <QString>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string_view>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <xcb/xcb.h>

namespace velmora {
namespace {

std::string_view environment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

// The platforms Qt will try, as it reads them: "-platform NAME" on the
// command line, else QT_QPA_PLATFORM; empty for its default.
std::string_view requestedPlatforms(int argc, char** argv) {
    for (int i = 1; i + 1 < argc; ++i) {
        const std::string_view argument = argv[i];
        if (argument == "-platform" || argument == "--platform") {
            return argv[i + 1];
        }
    }
    return environment("QT_QPA_PLATFORM");
}

// Whether every platform in the ";"-separated list (each perhaps with
// ":options") needs a display server.
bool needsDisplayServer(std::string_view platforms) {
    if (platforms.empty()) {
        return true;
    }
    while (!platforms.empty()) {
        const std::size_t end = platforms.find(';');
        const std::string_view entry = platforms.substr(0, end);
        const std::string_view name = entry.substr(0, entry.find(':'));
        if (name != "xcb" && !name.starts_with("wayland")) {
            return false;
        }
        platforms = end == std::string_view::npos ? "" : platforms.substr(end + 1);
    }
    return true;
}

// An X server that takes a connection, authorisation included, through
// DISPLAY, as Qt's xcb plugin will connect.
bool x11Reachable() {
    const std::unique_ptr<xcb_connection_t, decltype(&xcb_disconnect)> connection(
        xcb_connect(nullptr, nullptr), &xcb_disconnect);
    return connection != nullptr && xcb_connection_has_error(connection.get()) == 0;
}

// A Wayland compositor listening at WAYLAND_DISPLAY (a socket name under
// XDG_RUNTIME_DIR, or a path). A connect to its socket is all that is asked;
// libwayland-client would be one more library for that one call.
bool waylandReachable(std::string_view display) {
    std::string path(display);
    if (!display.starts_with('/')) {
        const std::string_view runtime = environment("XDG_RUNTIME_DIR");
        if (runtime.empty()) {
            return false;
        }
        path = std::string(runtime) + "/" + path;
    }
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) {
        return false;
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    struct Socket {
        int fd;
        ~Socket() {
            if (fd >= 0) {
                ::close(fd);
            }
        }
    } const socket{::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0)};
    return socket.fd >= 0 &&
           ::connect(socket.fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
}

std::string describe(const char* name, std::string_view value) {
    if (value.empty()) {
        return std::string(name) + " is not set";
    }
    return std::string(name) + "=" + std::string(value) + " cannot be reached";
}

} // namespace

std::optional<std::string> missingDisplay(int argc, char** argv) {
    if (!needsDisplayServer(requestedPlatforms(argc, argv))) {
        return std::nullopt;
    }
    const std::string_view x11 = environment("DISPLAY");
    const std::string_view wayland = environment("WAYLAND_DISPLAY");
    if ((!x11.empty() && x11Reachable()) || (!wayland.empty() && waylandReachable(wayland))) {
        return std::nullopt;
    }
    return "Velmora2ADD: no display found (" + describe("DISPLAY", x11) + ", " +
           describe("WAYLAND_DISPLAY", wayland) +
           "); the window needs a desktop session, X11 or Wayland with XWayland";
}

namespace {

// The report being made; Qt's message handler is a plain function.
DisplayFailureReport* s_report = nullptr;

} // namespace

DisplayFailureReport::DisplayFailureReport(int argc, char** argv)
    : m_argc(argc), m_argv(argv), m_previous(nullptr) {
    s_report = this;
    m_previous = qInstallMessageHandler(&DisplayFailureReport::handle);
}

DisplayFailureReport::~DisplayFailureReport() {
    release();
}

void DisplayFailureReport::release() {
    qInstallMessageHandler(m_previous);
    s_report = nullptr;
    for (const Held& held : m_held) {
        QMessageLogContext context;
        context.category = held.category.c_str();
        qt_message_output(held.type, context, held.text);
    }
    m_held.clear();
}

void DisplayFailureReport::handle(QtMsgType type, const QMessageLogContext& context,
                                  const QString& text) {
    DisplayFailureReport& report = *s_report;
    if (type != QtFatalMsg) {
        report.m_held.push_back(
            {type, context.category != nullptr ? context.category : "default", text});
        return;
    }
    if (const std::optional<std::string> missing = missingDisplay(report.m_argc, report.m_argv)) {
        std::fprintf(stderr, "%s\n", missing->c_str());
        std::_Exit(1);
    }
    // A display is there: Qt failed for another reason, which it says itself.
    report.release();
    qt_message_output(type, context, text);
}

} // namespace velmora
