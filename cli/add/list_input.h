#pragma once

#include <cstddef>
#include <string>
#include <sys/stat.h>

namespace velmora {

// The bytes of a CSV list, read twice: once to check the whole list's form,
// once to add its entries, so that the list never has to be held in memory.
// A regular file is read again from its start, and refused if it changed in
// between; anything else (standard input, a pipe) is kept in an unnamed
// temporary file while it is read the first time.
class ListInput {
public:
    // Reads the file `name`; "-" is standard input.
    static ListInput open(const std::string& name);
    // Takes over `fd`; `shownName` names it in messages.
    ListInput(int fd, std::string shownName);
    ~ListInput();
    ListInput(ListInput&& other) noexcept;
    ListInput& operator=(ListInput&&) = delete;
    ListInput(const ListInput&) = delete;
    ListInput& operator=(const ListInput&) = delete;

    // Up to `size` bytes; 0 at the end, and when it fails (then error() says why).
    std::size_t read(char* buffer, std::size_t size);
    // Back to the start for the second reading.
    bool rewind();

    // Empty while all is well.
    const std::string& error() const { return m_error; }
    // "standard input" or the name the list was given by.
    const std::string& shownName() const { return m_shownName; }

private:
    bool fail(const std::string& what, int error);

    int m_fd = -1;
    int m_spool = -1;  // the first reading's copy of input that cannot be read twice
    off_t m_start = 0; // where a regular file's reading starts
    bool m_secondReading = false;
    std::string m_shownName;
    std::string m_error;
    struct stat m_checked {};
};

} // namespace velmora
