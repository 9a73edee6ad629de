#include "tests/add_tool/child_process.h"

#include <array>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <spawn.h>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace velmora::testing {
namespace {

using Clock = std::chrono::steady_clock;

// The child starts with SIGINT and SIGTERM at their default action and
// unblocked, whatever this process has inherited.
class SpawnSetup {
public:
    SpawnSetup() {
        posix_spawn_file_actions_init(&m_actions);
        posix_spawnattr_init(&m_attributes);
        sigset_t defaults;
        sigemptyset(&defaults);
        sigaddset(&defaults, SIGINT);
        sigaddset(&defaults, SIGTERM);
        sigaddset(&defaults, SIGPIPE);
        posix_spawnattr_setsigdefault(&m_attributes, &defaults);
        sigset_t none;
        sigemptyset(&none);
        posix_spawnattr_setsigmask(&m_attributes, &none);
        posix_spawnattr_setflags(&m_attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
    }
    ~SpawnSetup() {
        posix_spawn_file_actions_destroy(&m_actions);
        posix_spawnattr_destroy(&m_attributes);
    }
    SpawnSetup(const SpawnSetup&) = delete;
    SpawnSetup& operator=(const SpawnSetup&) = delete;

    void redirect(int fd, int to) { posix_spawn_file_actions_adddup2(&m_actions, fd, to); }
    void openNull(int to) {
        posix_spawn_file_actions_addopen(&m_actions, to, "/dev/null", O_RDONLY, 0);
    }

    pid_t spawn(const std::vector<std::string>& arguments) {
        std::vector<char*> argv;
        for (const std::string& argument : arguments) {
            argv.push_back(const_cast<char*>(argument.c_str()));
        }
        argv.push_back(nullptr);
        pid_t pid = -1;
        if (posix_spawn(&pid, argv[0], &m_actions, &m_attributes, argv.data(), environ) != 0) {
            throw std::runtime_error("cannot start " + arguments.front());
        }
        return pid;
    }

private:
    posix_spawn_file_actions_t m_actions{};
    posix_spawnattr_t m_attributes{};
};

int statusOf(int raw) {
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : WIFSIGNALED(raw) ? 128 + WTERMSIG(raw) : -1;
}

struct Pipe {
    int ends[2] = {-1, -1};
    Pipe() {
        if (pipe2(ends, O_CLOEXEC) != 0) {
            throw std::runtime_error("pipe failed");
        }
    }
    ~Pipe() {
        closeEnd(0);
        closeEnd(1);
    }
    Pipe(const Pipe&) = delete;
    Pipe& operator=(const Pipe&) = delete;
    void closeEnd(int which) {
        if (ends[which] >= 0) {
            close(ends[which]);
            ends[which] = -1;
        }
    }
};

// Appends what `fd` has; false at its end.
bool drain(int fd, std::string& into) {
    std::array<char, 65536> buffer{};
    const ssize_t got = read(fd, buffer.data(), buffer.size());
    if (got > 0) {
        into.append(buffer.data(), static_cast<std::size_t>(got));
        return true;
    }
    return got < 0 && (errno == EINTR || errno == EAGAIN);
}

} // namespace

ChildResult runChild(const std::vector<std::string>& arguments, const std::string& input) {
    Pipe in;
    Pipe out;
    Pipe err;
    SpawnSetup setup;
    setup.redirect(in.ends[0], STDIN_FILENO);
    setup.redirect(out.ends[1], STDOUT_FILENO);
    setup.redirect(err.ends[1], STDERR_FILENO);
    const pid_t pid = setup.spawn(arguments);
    in.closeEnd(0);
    out.closeEnd(1);
    err.closeEnd(1);
    // Small inputs only: written whole before the outputs are read.
    signal(SIGPIPE, SIG_IGN);
    if (!input.empty() && write(in.ends[1], input.data(), input.size()) < 0) {
        // The child may have ended without reading; its result tells.
    }
    in.closeEnd(1);

    ChildResult result;
    std::array<pollfd, 2> fds = {{{out.ends[0], POLLIN, 0}, {err.ends[0], POLLIN, 0}}};
    std::array<std::string*, 2> targets = {&result.output, &result.errors};
    int open = 2;
    while (open > 0) {
        if (poll(fds.data(), fds.size(), -1) < 0 && errno != EINTR) {
            break;
        }
        for (std::size_t i = 0; i < fds.size(); ++i) {
            if (fds[i].fd >= 0 && fds[i].revents != 0 && !drain(fds[i].fd, *targets[i])) {
                fds[i].fd = -1;
                --open;
            }
        }
    }
    int raw = 0;
    waitpid(pid, &raw, 0);
    result.status = statusOf(raw);
    return result;
}

TerminalChild::TerminalChild(const std::vector<std::string>& arguments) {
    int slave = -1;
    winsize size{};
    size.ws_col = 120;
    size.ws_row = 40;
    if (openpty(&m_master, &slave, nullptr, nullptr, &size) != 0) {
        throw std::runtime_error("openpty failed");
    }
    fcntl(m_master, F_SETFD, FD_CLOEXEC);
    fcntl(slave, F_SETFD, FD_CLOEXEC);
    SpawnSetup setup;
    setup.openNull(STDIN_FILENO);
    setup.redirect(slave, STDOUT_FILENO);
    setup.redirect(slave, STDERR_FILENO);
    m_pid = setup.spawn(arguments);
    close(slave);
}

TerminalChild::~TerminalChild() {
    if (m_pid > 0) {
        kill(m_pid, SIGKILL);
        waitpid(m_pid, nullptr, 0);
    }
    close(m_master);
}

bool TerminalChild::readUntil(const std::function<bool(const std::string&)>& seen,
                              std::chrono::seconds timeout) {
    const Clock::time_point deadline = Clock::now() + timeout;
    while (!m_closed && !seen(m_screen)) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) {
            return false;
        }
        pollfd fd{m_master, POLLIN, 0};
        if (poll(&fd, 1, static_cast<int>(left.count())) > 0 && !drain(m_master, m_screen)) {
            // The child closed the terminal (EIO on the master).
            m_closed = true;
        }
    }
    return seen(m_screen);
}

void TerminalChild::signal(int number) const {
    kill(m_pid, number);
}

ChildResult TerminalChild::finish(std::chrono::seconds timeout) {
    readUntil([](const std::string&) { return false; }, timeout);
    ChildResult result;
    int raw = 0;
    if (!m_closed) {
        kill(m_pid, SIGKILL);
    }
    waitpid(m_pid, &raw, 0);
    m_pid = -1;
    result.status = m_closed ? statusOf(raw) : -1; // -1: did not end in time
    result.errors = m_screen;
    return result;
}

} // namespace velmora::testing
