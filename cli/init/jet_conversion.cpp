#include "cli/init/jet_conversion.h"

#include "access/access_format.h"
#include "access/jet_reader.h"
#include "access/jet_writer.h"
#include "catalogue/copy/descriptor.h"
#include "catalogue/copy/open_file.h"
#include "cli/init/converted_catalogue.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <sqlite3.h>
#include <stdexcept>
#include <sys/file.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace velmora {
namespace {

constexpr const char* kCatalogueName = "Velmora2.db";

// A descriptor this conversion opened, closed when it goes out of scope.
Descriptor owned(int fd) {
    return Descriptor(FileSystem::real(), fd);
}

// A refusal or failure, as the one line the user reads.
class ConversionError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

std::string reason(int error) {
    return std::string(" (") + std::strerror(error) + ")";
}

// Finds a column by name as Jet and SQLite do: ASCII letters in any case.
bool hasColumn(const jet::Table& table, const char* name) {
    for (const jet::Column& column : table.columns) {
        if (sqlite3_stricmp(column.name.c_str(), name) == 0) {
            return true;
        }
    }
    return false;
}

class Conversion {
public:
    Conversion(const std::string& folder, const ConversionHooks& hooks)
        : m_folder(folder), m_catalogue(folder + "/" + kCatalogueName), m_hooks(hooks) {}

    ~Conversion() {
        // A run that did not finish removes what it made, so the folder is
        // left as it was.
        if (m_madeConverting) {
            unlinkat(m_dir.get(), std::string(kConvertingName).c_str(), 0);
        }
        if (m_madeKeeping) {
            unlinkat(m_dir.get(), std::string(kKeepingName).c_str(), 0);
        }
    }
    Conversion(const Conversion&) = delete;
    Conversion& operator=(const Conversion&) = delete;

    ConversionResult run() {
        openFolder();
        rollBackInterruptedAdd();
        openOriginal();
        lockAgainstAdds();
        jet::JetReader reader(descriptorPath(m_original.get()));
        checkConvertible(reader);

        removeLeftover(kConvertingName);
        removeLeftover(kKeepingName);
        const Descriptor converting = createConverting();
        const std::string convertingPath = m_folder + "/" + std::string(kConvertingName);
        // SQLite opens the very file made above: the folder may be reached
        // through links, the file itself never.
        const std::vector<ConvertedTable> tables =
            writeConvertedCatalogue(descriptorPath(converting.get()), reader,
                                    [this] { step(ConversionStep::TableWritten); });
        checkRowCounts(tables);
        step(ConversionStep::CatalogueWritten);
        if (fsync(converting.get()) != 0) {
            fail(convertingPath + ": cannot be flushed to the disk" + reason(errno));
        }
        step(ConversionStep::CatalogueSynced);
        checkConvertedCatalogue(descriptorPath(converting.get()), tables);
        step(ConversionStep::CatalogueChecked);

        const std::string keptAs = keepOriginal();
        step(ConversionStep::OriginalKept);
        replaceOriginal();
        m_madeConverting = false;
        step(ConversionStep::CatalogueInPlace);
        syncFolder();
        step(ConversionStep::FolderSynced);

        ConversionResult result;
        if (m_rolledBack) {
            result.lines.emplace_back("Velmora2.db: an interrupted add was rolled back");
        }
        for (const ConvertedTable& table : tables) {
            result.lines.push_back(summary(table));
        }
        result.lines.push_back("Velmora2.db is now an SQLite catalogue; the Access original is "
                               "kept as " +
                               keptAs + m_keptNote);
        return result;
    }

private:
    [[noreturn]] void fail(const std::string& line) const { throw ConversionError(line); }

    std::string formatName() const { return std::string(accessFormatName(m_format)); }

    void step(ConversionStep done) const {
        if (m_hooks.afterStep) {
            m_hooks.afterStep(done);
        }
    }

    void openFolder() {
        m_dir = owned(open(m_folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (!m_dir.valid()) {
            fail(m_folder + ": cannot open the folder" + reason(errno));
        }
        // One conversion at a time in a folder: a second one would share the
        // temporary file. A file system without locks goes unlocked.
        if (flock(m_dir.get(), LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
            fail(m_folder + ": another velmora2-init is converting this collection");
        }
    }

    // An add into the Access file that was interrupted left its journal: the
    // old pages go back before anything is read. Without a journal nothing is
    // opened for writing, so a catalogue on a read-only disk converts as before.
    void rollBackInterruptedAdd() {
        const auto absent = [this](const std::string& journal) {
            return faccessat(m_dir.get(), journal.c_str(), F_OK, AT_SYMLINK_NOFOLLOW) != 0;
        };
        if (absent(jet::journalName(kCatalogueName)) &&
            absent(jet::legacyJournalName(kCatalogueName))) {
            return;
        }
        try {
            if (jet::recoverInterruptedInsert(m_dir.get(), kCatalogueName)) {
                m_rolledBack = true;
            }
        } catch (const jet::JetWriteError& error) {
            fail(m_catalogue + ": " + error.what());
        }
    }

    void openOriginal() {
        // Never waits: a FIFO or device is refused by its type below.
        m_original = owned(
            openat(m_dir.get(), kCatalogueName, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
        if (!m_original.valid()) {
            const int error = errno;
            fail(m_catalogue + (error == ELOOP
                                    ? ": a symbolic link; only a catalogue that is a plain file is "
                                      "converted"
                                    : ": cannot be read" + reason(error)));
        }
        if (fstat(m_original.get(), &m_originalStat) != 0 || !S_ISREG(m_originalStat.st_mode)) {
            fail(m_catalogue + ": not a plain file");
        }
        char header[kAccessHeaderSize];
        if (pread(m_original.get(), header, sizeof header, 0) !=
            static_cast<ssize_t>(sizeof header)) {
            fail(m_catalogue + ": not an Access catalogue");
        }
        m_format = accessFormat(std::string_view(header, sizeof header));
        if (m_format == AccessFormat::Ace) {
            fail(m_catalogue + ": an Access 2007 or later (.accdb) catalogue, which velmora2-init "
                               "cannot convert; save it in Access 2000 format (.mdb) first");
        }
        if (m_format != AccessFormat::Jet3 && m_format != AccessFormat::Jet4) {
            fail(m_catalogue + ": not an Access catalogue that velmora2-init can convert");
        }
    }

    // An add holds this lock on the catalogue while it writes: taken for the
    // whole conversion, an add waits for it, and a row is never added to a
    // file about to be replaced. An add interrupted since the roll-back above
    // left a journal: the file is then not as it should be read.
    void lockAgainstAdds() {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (flock(m_original.get(), LOCK_EX | LOCK_NB) != 0) {
            if (errno == EINTR) {
                continue;
            }
            if (errno != EWOULDBLOCK) {
                return; // a file system without locks goes unlocked
            }
            if (std::chrono::steady_clock::now() >= deadline) {
                fail(m_catalogue + ": an add into it is running; convert when it is done");
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        if (faccessat(m_dir.get(), jet::journalName(kCatalogueName).c_str(), F_OK,
                      AT_SYMLINK_NOFOLLOW) == 0) {
            fail(m_catalogue + ": an add was interrupted while the conversion started; run "
                               "velmora2-init --convert again");
        }
        if (fstat(m_original.get(), &m_originalStat) != 0) {
            fail(m_catalogue + ": cannot be read" + reason(errno));
        }
    }

    void checkConvertible(const jet::JetReader& reader) const {
        const std::string what = m_catalogue + ": an Access (" + formatName() + ") catalogue";
        if (reader.encrypted()) {
            fail(what + " that is encrypted; decrypt it in Access first");
        }
        const jet::Table* cd = nullptr;
        for (const jet::Table& table : reader.tables()) {
            if (sqlite3_stricmp(table.name.c_str(), "CD") == 0) {
                cd = &table;
            }
        }
        if (cd == nullptr) {
            fail(what + " without table CD");
        }
        for (const char* column : {"Kategorija", "Program", "Opis"}) {
            if (!hasColumn(*cd, column)) {
                fail(what + " whose table CD has no column " + column);
            }
        }
    }

    // Rows found that differ from the count a definition records are rows
    // lost (or a count gone wrong): never a silent success.
    void checkRowCounts(const std::vector<ConvertedTable>& tables) const {
        if (m_hooks.acceptMissingRows) {
            return;
        }
        std::string differing;
        for (const ConvertedTable& table : tables) {
            if (table.rows != table.recordedRows) {
                differing += (differing.empty() ? "table " : ", table ") + table.name + " holds " +
                             groupedCount(table.rows) + " rows where its definition records " +
                             groupedCount(table.recordedRows);
            }
        }
        if (!differing.empty()) {
            fail(m_catalogue + ": " + differing +
                 "; nothing was converted (velmora2-init --convert --accept-missing-rows converts "
                 "the rows found)");
        }
    }

    // A temporary file of an interrupted run is ours to remove.
    void removeLeftover(std::string_view name) const {
        if (unlinkat(m_dir.get(), std::string(name).c_str(), 0) != 0 && errno != ENOENT) {
            fail(m_folder + "/" + std::string(name) + ": cannot be removed" + reason(errno));
        }
    }

    Descriptor createConverting() {
        // The permissions of the catalogue it replaces, but writable by its
        // owner: files copied from a CD are read-only, and the new catalogue
        // exists to be added to.
        const mode_t mode = (m_originalStat.st_mode & 0666) | S_IRUSR | S_IWUSR;
        Descriptor fd = owned(openat(m_dir.get(), std::string(kConvertingName).c_str(),
                                     O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode));
        if (!fd.valid()) {
            fail(m_folder + ": cannot write the new catalogue in this folder" + reason(errno));
        }
        m_madeConverting = true;
        fchmod(fd.get(), mode); // whatever the umask
        return fd;
    }

    std::string keptName(int attempt) const {
        const std::string version = m_format == AccessFormat::Jet3 ? "jet3" : "jet4";
        return attempt == 1 ? "Velmora2." + version + ".db"
                            : "Velmora2." + version + "-" + std::to_string(attempt) + ".db";
    }

    // Gives the original a second name in the folder without ever replacing
    // a file: a hard link, or a flushed copy where there are no hard links.
    std::string keepOriginal() {
        for (int attempt = 1; attempt < 1000; ++attempt) {
            const std::string name = keptName(attempt);
            struct stat existing {};
            if (fstatat(m_dir.get(), name.c_str(), &existing, AT_SYMLINK_NOFOLLOW) == 0) {
                if (sameFile(existing, m_originalStat) || isCopyOfOriginal(name, existing)) {
                    m_keptNote = " (by an earlier run that was interrupted)";
                    return name;
                }
                continue; // taken by another file: never replaced
            }
            if (errno != ENOENT) {
                fail(m_folder + "/" + name + ": cannot be looked at" + reason(errno));
            }
            bool kept = m_hooks.hardLinks && !m_linkUnsupported && link(name);
            if (!kept && (!m_hooks.hardLinks || m_linkUnsupported)) {
                kept = copy(name);
            }
            if (kept) {
                if (attempt > 1) {
                    m_keptNote = " (" + keptName(1) + " was taken)";
                }
                return name;
            }
        }
        fail(m_folder + ": no free name to keep the original under");
    }

    // A copy an interrupted run kept (copies get their name only when whole).
    bool isCopyOfOriginal(const std::string& name, const struct stat& existing) const {
        if (!S_ISREG(existing.st_mode) || existing.st_size != m_originalStat.st_size) {
            return false;
        }
        const Descriptor copy =
            owned(openat(m_dir.get(), name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
        if (!copy.valid()) {
            return false;
        }
        std::vector<char> ours(1 << 16);
        std::vector<char> theirs(ours.size());
        for (off_t offset = 0; offset < existing.st_size;) {
            const ssize_t got = pread(m_original.get(), ours.data(), ours.size(), offset);
            if (got <= 0 ||
                pread(copy.get(), theirs.data(), static_cast<std::size_t>(got), offset) != got ||
                std::memcmp(ours.data(), theirs.data(), static_cast<std::size_t>(got)) != 0) {
                return false;
            }
            offset += got;
        }
        return true;
    }

    // Links the open original under `name`; false when the name is taken or
    // the file system has no hard links (then m_linkUnsupported is set).
    bool link(const std::string& name) {
        // Linking through /proc links the very file that was read, whatever
        // has happened to its name since.
        if (linkat(AT_FDCWD, descriptorPath(m_original.get()).c_str(), m_dir.get(), name.c_str(),
                   AT_SYMLINK_FOLLOW) == 0) {
            return true;
        }
        const int error = errno;
        if (error == EEXIST) {
            return false;
        }
        if (error == EPERM || error == EOPNOTSUPP || error == EMLINK || error == ENOENT ||
            error == EXDEV) {
            m_linkUnsupported = true;
            return false;
        }
        fail(m_folder + "/" + name + ": cannot keep the original under this name" + reason(error));
    }

    // Copies the original into kKeepingName, flushes it, and gives it `name`
    // unless that is taken meanwhile.
    bool copy(const std::string& name) {
        const std::string keeping(kKeepingName);
        const mode_t mode = m_originalStat.st_mode & 0666;
        const Descriptor out =
            owned(openat(m_dir.get(), keeping.c_str(),
                         O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode));
        if (!out.valid()) {
            fail(m_folder + ": cannot keep a copy of the original in this folder" + reason(errno));
        }
        m_madeKeeping = true;
        fchmod(out.get(), mode);
        off_t offset = 0;
        while (offset < m_originalStat.st_size) {
            const ssize_t sent =
                sendfile(out.get(), m_original.get(), &offset,
                         static_cast<std::size_t>(m_originalStat.st_size - offset));
            if (sent <= 0) {
                fail(m_folder + "/" + keeping + ": cannot copy the original" +
                     reason(sent < 0 ? errno : EIO));
            }
        }
        if (fsync(out.get()) != 0) {
            fail(m_folder + "/" + keeping + ": cannot be flushed to the disk" + reason(errno));
        }
        if (giveName(keeping, name)) {
            m_madeKeeping = false;
            return true;
        }
        const int error = errno;
        unlinkat(m_dir.get(), keeping.c_str(), 0);
        m_madeKeeping = false;
        if (error == EEXIST) {
            return false; // taken meanwhile: the next name is tried
        }
        fail(m_folder + "/" + name + ": cannot keep the original under this name" + reason(error));
    }

    // Renames `from` to `to` unless `to` exists. A file system that cannot
    // refuse to replace in the rename itself is asked first.
    bool giveName(const std::string& from, const std::string& to) const {
        if (renameat2(m_dir.get(), from.c_str(), m_dir.get(), to.c_str(), RENAME_NOREPLACE) == 0) {
            return true;
        }
        if (errno != EINVAL) {
            return false;
        }
        struct stat existing {};
        if (fstatat(m_dir.get(), to.c_str(), &existing, AT_SYMLINK_NOFOLLOW) == 0) {
            errno = EEXIST;
            return false;
        }
        return renameat(m_dir.get(), from.c_str(), m_dir.get(), to.c_str()) == 0;
    }

    void replaceOriginal() {
        syncFolder(); // the kept name is on the disk before Velmora2.db changes
        // Replace only the file that was converted.
        struct stat current {};
        if (fstatat(m_dir.get(), kCatalogueName, &current, AT_SYMLINK_NOFOLLOW) != 0 ||
            !sameFile(current, m_originalStat) || current.st_size != m_originalStat.st_size ||
            current.st_mtim.tv_sec != m_originalStat.st_mtim.tv_sec ||
            current.st_mtim.tv_nsec != m_originalStat.st_mtim.tv_nsec) {
            fail(m_catalogue + ": changed while it was converted; nothing was replaced");
        }
        if (renameat(m_dir.get(), std::string(kConvertingName).c_str(), m_dir.get(),
                     kCatalogueName) != 0) {
            fail(m_catalogue + ": cannot be replaced by the new catalogue" + reason(errno));
        }
    }

    void syncFolder() const {
        // EINVAL: a file system that cannot flush a folder (its renames are
        // as durable as it makes them).
        if (fsync(m_dir.get()) != 0 && errno != EINVAL) {
            fail(m_folder + ": cannot be flushed to the disk" + reason(errno));
        }
    }

    static std::string summary(const ConvertedTable& table) {
        std::string line =
            table.name + ": " + groupedCount(table.rows) + (table.rows == 1 ? " row" : " rows");
        if (table.rows != table.recordedRows) {
            line += " (its definition records " + groupedCount(table.recordedRows) + ")";
        }
        if (!table.autonumberColumn.empty() && !table.autonumberIsKey) {
            line += " (" + table.autonumberColumn +
                    " is an ordinary column: its numbers repeat or are missing)";
        }
        return line;
    }

    const std::string m_folder;
    const std::string m_catalogue;
    const ConversionHooks& m_hooks;
    Descriptor m_dir;
    Descriptor m_original;
    struct stat m_originalStat {};
    AccessFormat m_format = AccessFormat::None;
    bool m_madeConverting = false;
    bool m_madeKeeping = false;
    bool m_linkUnsupported = false;
    std::string m_keptNote;
    bool m_rolledBack = false;
};

} // namespace

ConversionResult convertAccessCatalogue(const std::string& folder, const ConversionHooks& hooks) {
    const std::string catalogue = folder + "/" + kCatalogueName;
    try {
        return Conversion(folder, hooks).run();
    } catch (const ConversionError& error) {
        return {error.what(), {}};
    } catch (const jet::JetError& error) {
        return {catalogue + ": cannot convert this Access catalogue: " + error.what(), {}};
    } catch (const CatalogueWriteError& error) {
        return {folder + ": " + error.what() + "; Velmora2.db is unchanged", {}};
    } catch (const std::exception& error) { // out of memory, say
        return {catalogue + ": cannot convert this Access catalogue (" + error.what() + ")", {}};
    }
}

std::string groupedCount(std::uint64_t count) {
    std::string digits = std::to_string(count);
    for (auto at = static_cast<std::ptrdiff_t>(digits.size()) - 3; at > 0; at -= 3) {
        digits.insert(static_cast<std::size_t>(at), 1, ',');
    }
    return digits;
}

} // namespace velmora
