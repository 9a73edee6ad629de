#include "access/jet_writer.h"

#include "access/jet_catalogue_schema.h"
#include "access/jet_header.h"
#include "access/jet_journal.h"
#include "access/jet_page_file.h"
#include "access/jet_table_insert.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace velmora::jet {
namespace {

// How long an add waits for another add (or a roll-back) to release the file.
constexpr auto kLockWait = std::chrono::seconds(10);
constexpr auto kLockRetry = std::chrono::milliseconds(20);

[[noreturn]] void throwIo(const std::string& what, int error) {
    throw JetWriteError(JetWriteError::Kind::Io, error, what + ": " + std::strerror(error));
}

class Catalogue {
public:
    Catalogue(int folderFd, std::string_view fileName)
        : m_folderFd(folderFd), m_name(fileName), m_journal(journalName(fileName)) {
        m_fd = ::openat(folderFd, m_name.c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY);
        if (m_fd < 0) {
            throwIo("cannot open " + m_name, errno);
        }
        struct stat status {};
        if (::fstat(m_fd, &status) != 0) {
            const int error = errno;
            ::close(m_fd);
            throwIo("cannot read " + m_name, error);
        }
        if (!S_ISREG(status.st_mode)) {
            ::close(m_fd);
            throw JetWriteError(JetWriteError::Kind::Damaged, kJetDamaged,
                                m_name + " is not a file");
        }
        lock();
    }
    ~Catalogue() { ::close(m_fd); } // closing releases the lock
    Catalogue(const Catalogue&) = delete;
    Catalogue& operator=(const Catalogue&) = delete;

    int fd() const { return m_fd; }
    bool rollBack() { return rollBackJournal(m_folderFd, m_journal, m_fd); }

    // libmdb reads the very file this descriptor holds.
    std::string procPath() const { return "/proc/self/fd/" + std::to_string(m_fd); }

    void commit(PageFile& file) {
        writeJournal(m_folderFd, m_journal, m_fd, file.originalSize(), file.originals());
        try {
            file.write();
        } catch (...) {
            // Put the old pages back now if the disk lets us; otherwise the
            // journal stays for the next open.
            try {
                rollBack();
            } catch (...) {
            }
            throw;
        }
        removeJournal(m_folderFd, m_journal);
    }

private:
    void lock() {
        const auto deadline = std::chrono::steady_clock::now() + kLockWait;
        while (::flock(m_fd, LOCK_EX | LOCK_NB) != 0) {
            if (errno == EINTR) {
                continue;
            }
            if (errno != EWOULDBLOCK || std::chrono::steady_clock::now() >= deadline) {
                const int error = errno;
                ::close(m_fd);
                throwIo("cannot lock " + m_name + " (another add may be running)", error);
            }
            std::this_thread::sleep_for(kLockRetry);
        }
    }

    int m_folderFd;
    std::string m_name;
    std::string m_journal;
    int m_fd = -1;
};

// Reads and checks everything, and prepares the changed pages in memory.
JetInsertResult prepare(Catalogue& catalogue, PageFile& file, const CatalogueRow& row) {
    checkWritableHeader(file.page(0, "the header"));
    const CatalogueSchema schema = readCatalogueSchema(catalogue.procPath());
    return insertIntoPages(file, schema, row, std::time(nullptr));
}

} // namespace

std::string journalName(std::string_view fileName) {
    return std::string(fileName) + "-journal";
}

JetInsertResult insertCatalogueRow(int folderFd, std::string_view fileName,
                                   const CatalogueRow& row) {
    Catalogue catalogue(folderFd, fileName);
    catalogue.rollBack();
    PageFile file(catalogue.fd());
    const JetInsertResult result = prepare(catalogue, file, row);
    catalogue.commit(file);
    return result;
}

void checkCatalogueWritable(int folderFd, std::string_view fileName) {
    Catalogue catalogue(folderFd, fileName);
    catalogue.rollBack();
    PageFile file(catalogue.fd());
    try {
        prepare(catalogue, file, {"x", "x", "x"});
    } catch (const JetWriteError& error) {
        // A row the engine would refuse says nothing of the file itself.
        if (error.kind() != JetWriteError::Kind::Rejected) {
            throw;
        }
    }
}

void checkCatalogueRow(int folderFd, std::string_view fileName, const CatalogueRow& row) {
    Catalogue catalogue(folderFd, fileName);
    struct stat status {};
    if (::fstatat(folderFd, journalName(fileName).c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0) {
        throw JetWriteError(JetWriteError::Kind::Io, EBUSY,
                            std::string(fileName) +
                                " holds an interrupted add, which the next add or velmora2-init "
                                "rolls back");
    }
    PageFile file(catalogue.fd());
    prepare(catalogue, file, row);
}

bool recoverInterruptedInsert(int folderFd, std::string_view fileName) {
    // Without a journal there is nothing to do, and a catalogue on a medium
    // that cannot be written (a disc) still reads.
    struct stat status {};
    if (::fstatat(folderFd, journalName(fileName).c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0 &&
        errno == ENOENT) {
        return false;
    }
    Catalogue catalogue(folderFd, fileName);
    return catalogue.rollBack();
}

} // namespace velmora::jet
