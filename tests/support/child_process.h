#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace velmora::testing {

// What a finished child process left.
struct ChildResult {
    int status = -1;    // exit status, 128 + the signal that ended it, or -1 if it hung
    std::string errors; // its standard error
};

// Runs `arguments` (the program first) with standard input read from `input`,
// standard output discarded and standard error on a pipe, and waits for it.
ChildResult runChild(const std::vector<std::string>& arguments,
                     const std::string& input = "/dev/null");

// Runs `arguments` with standard error on a pipe whose reader has gone away,
// and waits for it.
ChildResult runChildWithoutReader(const std::vector<std::string>& arguments);

// A child whose standard output and error are a pseudo-terminal, as when a
// person runs it.
class TerminalChild {
public:
    explicit TerminalChild(const std::vector<std::string>& arguments);
    ~TerminalChild();
    TerminalChild(const TerminalChild&) = delete;
    TerminalChild& operator=(const TerminalChild&) = delete;

    // Reads what the child writes until `seen` holds for it; false if the
    // child closed the terminal or `timeout` passed first.
    bool readUntil(const std::function<bool(const std::string&)>& seen,
                   std::chrono::seconds timeout);
    void signal(int number) const;
    // Reads to the end and waits for the child.
    ChildResult finish(std::chrono::seconds timeout);
    const std::string& screen() const { return m_screen; }

private:
    pid_t m_pid = -1;
    int m_master = -1;
    bool m_closed = false;
    std::string m_screen;
};

} // namespace velmora::testing
