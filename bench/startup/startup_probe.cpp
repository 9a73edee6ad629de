// startup_probe TITLE PROGRAM [ARGS...]: starts PROGRAM and prints, once a
// top-level window titled TITLE is mapped, the time from the start to the map
// in milliseconds, the program's VmRSS at that moment in KiB and the processor
// time its threads had used by then in milliseconds; then ends it. Watching
// MapNotify on the root window times the map exactly, with no polling. On a
// busy machine the processor time shows the work done apart from the wait for
// a processor.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <signal.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace {

long residentKib(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) {
            return std::strtol(line.c_str() + 6, nullptr, 10);
        }
    }
    return -1;
}

// The time on a processor of every thread of the process, from schedstat.
double processorMs(pid_t pid) {
    const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
    double total = 0;
    for (const auto& task : std::filesystem::directory_iterator(tasks)) {
        std::ifstream schedstat(task.path() / "schedstat");
        double nanoseconds = 0;
        if (schedstat >> nanoseconds) {
            total += nanoseconds;
        }
    }
    return total / 1e6;
}

bool titled(Display* display, Window window, const std::string& title) {
    char* name = nullptr;
    if (XFetchName(display, window, &name) == 0 || name == nullptr) {
        return false;
    }
    const bool same = title == name;
    XFree(name);
    return same;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fputs("usage: startup_probe TITLE PROGRAM [ARGS...]\n", stderr);
        return 2;
    }
    const std::string title = argv[1];
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        std::fputs("startup_probe: cannot open the display\n", stderr);
        return 1;
    }
    const Window root = DefaultRootWindow(display);
    XSelectInput(display, root, SubstructureNotifyMask);
    XSync(display, False);

    const auto start = std::chrono::steady_clock::now();
    const pid_t child = fork();
    if (child < 0) {
        std::perror("fork");
        return 1;
    }
    if (child == 0) {
        close(ConnectionNumber(display));
        execv(argv[2], argv + 2);
        std::perror("execv");
        _exit(127);
    }

    // A child that dies before showing its window must not leave us waiting.
    alarm(60);
    int status = 0;
    for (;;) {
        XEvent event;
        XNextEvent(display, &event);
        if (event.type == MapNotify && titled(display, event.xmap.window, title)) {
            break;
        }
        if (waitpid(child, &status, WNOHANG) == child) {
            std::fputs("startup_probe: the program ended before its window was shown\n", stderr);
            return 1;
        }
    }
    const auto mapped = std::chrono::steady_clock::now();
    const long rss = residentKib(child);
    const double cpu = processorMs(child);
    const double ms = std::chrono::duration<double, std::milli>(mapped - start).count();
    std::printf("%.2f %ld %.2f\n", ms, rss, cpu);

    kill(child, SIGTERM);
    waitpid(child, &status, 0);
    XCloseDisplay(display);
    return 0;
}
