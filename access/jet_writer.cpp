#include "access/jet_writer.h"

#include "access/jet_catalogue_schema.h"
#include "access/jet_header.h"
#include "access/jet_journal.h"
#include "access/jet_lock_file.h"
#include "access/jet_page_file.h"
#include "access/jet_table_insert.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <optional>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace velmora::jet {
namespace {

// How long an add waits for another add (or a roll-back) to release the file.
constexpr auto kLockWait = std::chrono::seconds(10);
constexpr auto kLockRetry = std::chrono::milliseconds(20);
// The table the add writes into.
constexpr std::string_view kTable = "CD";
// How long an add waits for another program (Access) to close the file.
constexpr auto kInUseWait = std::chrono::milliseconds(1500);

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
        m_format = &kJet4Format;
        lock();
        try {
            m_users.emplace(folderFd, m_name, m_fd, kInUseWait);
        } catch (...) {
            ::close(m_fd);
            throw;
        }
    }
    ~Catalogue() {
        m_users.reset();
        ::close(m_fd); // closing releases the lock
    }
    Catalogue(const Catalogue&) = delete;
    Catalogue& operator=(const Catalogue&) = delete;

    int fd() const { return m_fd; }
    const std::string& name() const { return m_name; }
    // The version the writer writes; the header is checked against it.
    const JetFormat& format() const { return *m_format; }
    // Our journal, then one under the name an earlier version used, which
    // is ours only by its contents (SQLite names its own journal so).
    bool rollBack() {
        const bool current = rollBackJournal(m_folderFd, m_journal, m_fd);
        return rollBackJournal(m_folderFd, legacyJournalName(m_name), m_fd, false) || current;
    }

    void commit(PageFile& file) {
        std::vector<std::uint32_t> pages;
        for (const auto& [number, page] : file.written()) {
            pages.push_back(number);
        }
        m_users->lockPagesForWrite(pages);
        writeJournal(m_folderFd, m_journal, m_fd,
                     {file.originalSize(), std::uint64_t{file.pageCount()} * file.format().pageSize,
                      file.originals(), file.written()});
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
        finish();
    }

private:
    // The row is stored and the file flushed: what fails now is no failed
    // insert. A journal that cannot be removed is emptied, so that the next
    // open takes it for one cut short and never rolls the row back.
    void finish() {
        try {
            removeJournal(m_folderFd, m_journal);
        } catch (const JetWriteError& error) {
            const int empty = ::openat(m_folderFd, m_journal.c_str(),
                                       O_WRONLY | O_TRUNC | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
            if (empty >= 0) {
                ::fsync(empty);
                ::close(empty);
            }
            throw JetWriteError(JetWriteError::Kind::AfterCommit, error.number(),
                                "the row is stored in " + m_name + ", but then " + error.what());
        }
    }

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
    const JetFormat* m_format = nullptr;
    std::optional<JetLockFile> m_users;
};

// Reads and checks everything, and prepares the changed pages in memory.
JetInsertResult prepare(PageFile& file, const CatalogueRow& row) {
    checkWritableHeader(file.format(), file.bytes(0, "the header"), file.name());
    const CatalogueSchema schema = readCatalogueSchema(file, kTable);
    return insertIntoPages(file, kTable, schema, row, std::time(nullptr));
}

} // namespace

std::string journalName(std::string_view fileName) {
    return std::string(fileName) + "-vjournal";
}

std::string legacyJournalName(std::string_view fileName) {
    return std::string(fileName) + "-journal";
}

JetInsertResult insertCatalogueRow(int folderFd, std::string_view fileName,
                                   const CatalogueRow& row) {
    Catalogue catalogue(folderFd, fileName);
    catalogue.rollBack();
    PageFile file(catalogue.fd(), catalogue.format(), catalogue.name());
    const JetInsertResult result = prepare(file, row);
    catalogue.commit(file);
    return result;
}

void checkCatalogueWritable(int folderFd, std::string_view fileName) {
    Catalogue catalogue(folderFd, fileName);
    catalogue.rollBack();
    PageFile file(catalogue.fd(), catalogue.format(), catalogue.name());
    try {
        prepare(file, {"x", "x", "x"});
    } catch (const JetWriteError& error) {
        // A row the engine would refuse says nothing of the file itself.
        if (error.kind() != JetWriteError::Kind::Rejected) {
            throw;
        }
    }
}

bool recoverInterruptedInsert(int folderFd, std::string_view fileName) {
    // Without a journal there is nothing to do, and a catalogue on a medium
    // that cannot be written (a disc) still reads.
    struct stat status {};
    const auto absent = [&](const std::string& name) {
        return ::fstatat(folderFd, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0 &&
               errno == ENOENT;
    };
    if (absent(journalName(fileName)) && absent(legacyJournalName(fileName))) {
        return false;
    }
    Catalogue catalogue(folderFd, fileName);
    return catalogue.rollBack();
}

} // namespace velmora::jet
