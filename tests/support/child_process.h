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
    std::string output; // its standard output
    std::string errors; // its standard error
};

// Runs `arguments` (the program first, looked up on PATH when it names no
// folder) with standard input read from `input`, `environment` ("NAME=value"
// each) on top of this process's, and standard output and error each on a
// pipe, and waits for it. Every child of the tests starts here, never
// through a shell, so no argument is ever parsed again.
ChildResult runChild(const std::vector<std::string>& arguments,
                     const std::string& input = "/dev/null",
                     const std::vector<std::string>& environment = {});

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
    // Reads to the end and waits for the child. Both outputs are the one
    // terminal, so each holds the whole screen.
    ChildResult finish(std::chrono::seconds timeout);
    const std::string& screen() const { return m_screen; }

private:
    pid_t m_pid = -1;
    int m_master = -1;
    bool m_closed = false;
    std::string m_screen;
};

} // namespace velmora::testing
