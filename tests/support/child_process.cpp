#include "tests/support/child_process.h"

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
#include <utility>

extern char** environ;

namespace velmora::testing {
namespace {

// Where a child's standard output and error go: both onto one descriptor, or
// each onto its own.
struct Outputs {
    int output;
    int errors;
};

// Starts the child with stdin from `input`, with SIGINT and SIGTERM at their
// default action and unblocked, whatever this process has inherited.
pid_t spawn(const std::vector<std::string>& arguments, const char* input, Outputs outputs,
            const std::vector<std::string>& environment) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, input, O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, outputs.output, STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, outputs.errors, STDERR_FILENO);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t signals;
    sigemptyset(&signals);
    posix_spawnattr_setsigmask(&attributes, &signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    posix_spawnattr_setsigdefault(&attributes, &signals);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);

    std::vector<char*> argv;
    for (const std::string& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    // Later entries win with glibc's getenv, so the additions go last.
    std::vector<char*> envp;
    for (char** variable = environ; *variable != nullptr; ++variable) {
        envp.push_back(*variable);
    }
    for (const std::string& variable : environment) {
        envp.push_back(const_cast<char*>(variable.c_str()));
    }
    envp.push_back(nullptr);
    pid_t pid = -1;
    const int error = posix_spawnp(&pid, argv[0], &actions, &attributes, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (error != 0) {
        throw std::runtime_error("cannot start " + arguments.front());
    }
    return pid;
}

int statusOf(int raw) {
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : WIFSIGNALED(raw) ? 128 + WTERMSIG(raw) : -1;
}

// Appends what `fd` has; false at its end.
bool drain(int fd, std::string& into) {
    std::array<char, 65536> buffer{};
    const ssize_t got = read(fd, buffer.data(), buffer.size());
    if (got > 0) {
        into.append(buffer.data(), static_cast<std::size_t>(got));
        return true;
    }
    return got < 0 && errno == EINTR;
}

} // namespace

ChildResult runChild(const std::vector<std::string>& arguments, const std::string& input,
                     const std::vector<std::string>& environment) {
    int output[2];
    int errors[2];
    if (pipe2(output, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe failed");
    }
    if (pipe2(errors, O_CLOEXEC) != 0) {
        close(output[0]);
        close(output[1]);
        throw std::runtime_error("pipe failed");
    }
    const pid_t pid = spawn(arguments, input.c_str(), {output[1], errors[1]}, environment);
    close(output[1]);
    close(errors[1]);
    ChildResult result;
    // Both pipes at once, so that a child filling one never waits on the other.
    std::array<pollfd, 2> ends{{{output[0], POLLIN, 0}, {errors[0], POLLIN, 0}}};
    std::array<std::string*, 2> into{&result.output, &result.errors};
    while (ends[0].fd >= 0 || ends[1].fd >= 0) {
        if (poll(ends.data(), ends.size(), -1) < 0 && errno != EINTR) {
            break;
        }
        for (std::size_t i = 0; i < ends.size(); ++i) {
            if (ends[i].fd >= 0 && ends[i].revents != 0 && !drain(ends[i].fd, *into[i])) {
                close(ends[i].fd);
                ends[i].fd = -1;
            }
        }
    }
    for (const pollfd& end : ends) {
        if (end.fd >= 0) {
            close(end.fd);
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
    m_pid = spawn(arguments, "/dev/null", {slave, slave}, {});
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
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!m_closed && !seen(m_screen)) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            return false;
        }
        pollfd fd{m_master, POLLIN, 0};
        // The master reads EIO once the child has closed the terminal.
        if (poll(&fd, 1, static_cast<int>(left.count())) > 0 && !drain(m_master, m_screen)) {
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
    if (!m_closed) {
        kill(m_pid, SIGKILL);
    }
    int raw = 0;
    waitpid(std::exchange(m_pid, -1), &raw, 0);
    return {m_closed ? statusOf(raw) : -1, m_screen, m_screen};
}

} // namespace velmora::testing
