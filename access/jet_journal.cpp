#include "access/jet_journal.h"

#include "access/jet_write_error.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <optional>
#include <stdexcept>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace velmora::jet {
namespace {

// Layout (little-endian): magic, device (8), inode (8), original length (8),
// final length (8), page count (4), whole length (8), checksum of the header
// (8); per page its number (4), a checksum per sector as written (8 each) and,
// for a page that existed, its original bytes; then a checksum of everything
// before it. Checksums are 64-bit FNV-1a: they catch accidents, not intent.
constexpr std::string_view kMagic = "Velmora2 Jet page journal 2\n";
constexpr std::size_t kHeaderSize = kMagic.size() + 8 * 4 + 4 + 8 + 8;
constexpr std::size_t kSectorSize = 512;
constexpr std::size_t kSectorsPerPage = kJetPageSize / kSectorSize;
// The journal an earlier version wrote: magic, original length (8), page
// count (4), per page its number (4) and original bytes, then a checksum.
constexpr std::string_view kMagicV1 = "Velmora2 Jet page journal 1\n";
constexpr std::size_t kHeaderSizeV1 = kMagicV1.size() + 8 + 4;
// A journal never holds more pages than an add changes; this bounds what a
// damaged one can make us read.
constexpr std::uint32_t kMaxJournalPages = 4096;
constexpr std::uint64_t kMaxJournalSize =
    kHeaderSize + std::uint64_t{kMaxJournalPages} * (4 + 8 * kSectorsPerPage + kJetPageSize) + 8;

[[noreturn]] void refuse(const std::string& line) {
    throw JetWriteError(JetWriteError::Kind::Damaged, kJetDamaged, line);
}

struct Fd {
    int fd = -1;
    explicit Fd(int f) : fd(f) {}
    ~Fd() {
        if (fd >= 0) {
            ::close(fd);
        }
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
};

constexpr std::uint64_t kFnvStart = 0xCBF29CE484222325ULL;
std::uint64_t fnv1a(const void* data, std::size_t size, std::uint64_t hash = kFnvStart) {
    const auto* bytes = static_cast<const unsigned char*>(data);
    for (std::size_t i = 0; i < size; ++i) {
        hash = (hash ^ bytes[i]) * 0x100000001B3ULL;
    }
    return hash;
}

void putLe(std::string& out, std::uint64_t value, int width) {
    for (int i = 0; i < width; ++i) {
        out.push_back(static_cast<char>(value >> (8 * i)));
    }
}
std::uint64_t getLe(std::string_view in, std::size_t at, int width) {
    std::uint64_t value = 0;
    for (int i = width; i-- > 0;) {
        value = value << 8 | static_cast<unsigned char>(in[at + static_cast<std::size_t>(i)]);
    }
    return value;
}

void writeAll(int fd, const char* data, std::size_t size, off_t at, const std::string& what) {
    std::size_t done = 0;
    while (done < size) {
        const ssize_t put = ::pwrite(fd, data + done, size - done, at + static_cast<off_t>(done));
        if (put < 0 && errno == EINTR) {
            continue;
        }
        if (put <= 0) {
            throwIo(what, put < 0 ? errno : EIO);
        }
        done += static_cast<std::size_t>(put);
    }
}

// Reads up to `size` bytes at `at`; fewer only at the end of the file.
std::string readAt(int fd, std::size_t size, off_t at, const std::string& what) {
    std::string bytes(size, '\0');
    std::size_t done = 0;
    while (done < size) {
        const ssize_t got =
            ::pread(fd, bytes.data() + done, size - done, at + static_cast<off_t>(done));
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            throwIo(what, errno);
        }
        if (got == 0) {
            break;
        }
        done += static_cast<std::size_t>(got);
    }
    bytes.resize(done);
    return bytes;
}

void syncFolder(int folderFd) {
    // Some file systems refuse to flush a directory; the names are then as
    // durable as that file system makes them.
    if (::fsync(folderFd) != 0 && errno != EINVAL && errno != EROFS) {
        throwIo("cannot flush the collection folder", errno);
    }
}

struct JournalPage {
    std::uint32_t number = 0;
    std::array<std::uint64_t, kSectorsPerPage> written{};
    std::string_view original; // empty for a page the add appended
};

struct Journal {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::uint64_t originalSize = 0;
    std::uint64_t finalSize = 0;
    std::vector<JournalPage> pages;
};

// What a journal of ours holds; nullopt for one cut short while written.
std::optional<Journal> parse(std::string_view bytes, const std::string& name) {
    const auto damaged = [&] {
        refuse(name +
               " beside Velmora2.db is damaged (its checksum fails); it was kept and "
               "nothing was written: open Velmora2.db in Access, which repairs it, then "
               "move " +
               name + " away and add again");
    };
    if (bytes.size() < kHeaderSize) {
        return std::nullopt;
    }
    if (getLe(bytes, kHeaderSize - 8, 8) != fnv1a(bytes.data(), kHeaderSize - 8)) {
        damaged();
    }
    Journal journal;
    std::size_t at = kMagic.size();
    journal.device = getLe(bytes, at, 8);
    journal.inode = getLe(bytes, at + 8, 8);
    journal.originalSize = getLe(bytes, at + 16, 8);
    journal.finalSize = getLe(bytes, at + 24, 8);
    const auto count = static_cast<std::uint32_t>(getLe(bytes, at + 32, 4));
    const std::uint64_t length = getLe(bytes, at + 36, 8);
    if (count > kMaxJournalPages || length > kMaxJournalSize || length < kHeaderSize + 8 ||
        journal.originalSize > journal.finalSize || journal.originalSize % kJetPageSize != 0) {
        damaged();
    }
    if (bytes.size() < length) {
        return std::nullopt;
    }
    if (bytes.size() > length || getLe(bytes, length - 8, 8) != fnv1a(bytes.data(), length - 8)) {
        damaged();
    }
    at = kHeaderSize;
    for (std::uint32_t i = 0; i < count; ++i) {
        JournalPage page;
        if (at + 4 + 8 * kSectorsPerPage > length - 8) {
            damaged();
        }
        page.number = static_cast<std::uint32_t>(getLe(bytes, at, 4));
        at += 4;
        for (auto& sum : page.written) {
            sum = getLe(bytes, at, 8);
            at += 8;
        }
        if (std::uint64_t{page.number} * kJetPageSize < journal.originalSize) {
            if (at + kJetPageSize > length - 8) {
                damaged();
            }
            page.original = bytes.substr(at, kJetPageSize);
            at += kJetPageSize;
        }
        journal.pages.push_back(page);
    }
    if (at != length - 8) {
        damaged();
    }
    return journal;
}

// Whether the file holds, sector by sector, what the journal's add wrote or
// what was there before it (3).
bool fileMatches(int fileFd, const Journal& journal, std::uint64_t size) {
    if (size < journal.originalSize || size > journal.finalSize) {
        return false;
    }
    std::map<std::uint32_t, const JournalPage*> byNumber;
    for (const JournalPage& page : journal.pages) {
        byNumber.emplace(page.number, &page);
    }
    // Every page past the original end is one the add appended.
    for (std::uint64_t at = journal.originalSize; at < size; at += kJetPageSize) {
        if (byNumber.count(static_cast<std::uint32_t>(at / kJetPageSize)) == 0) {
            return false;
        }
    }
    static const std::string kZeros(kSectorSize, '\0');
    for (const JournalPage& page : journal.pages) {
        const std::uint64_t start = std::uint64_t{page.number} * kJetPageSize;
        if (start >= size) {
            continue;
        }
        const std::string now =
            readAt(fileFd, kJetPageSize, static_cast<off_t>(start), "cannot read Velmora2.db");
        for (std::size_t s = 0; s * kSectorSize < now.size(); ++s) {
            const std::string_view sector =
                std::string_view(now).substr(s * kSectorSize, kSectorSize);
            if (sector.size() < kSectorSize) {
                continue; // a sector cut by a crash, past the original end: cut off below
            }
            const bool asWritten = fnv1a(sector.data(), sector.size()) == page.written[s];
            const bool asBefore =
                page.original.empty()
                    ? sector == kZeros
                    : sector == page.original.substr(s * kSectorSize, kSectorSize);
            if (!asWritten && !asBefore) {
                return false;
            }
        }
    }
    return true;
}

void restore(int fileFd, const Journal& journal) {
    for (const JournalPage& page : journal.pages) {
        if (!page.original.empty()) {
            writeAll(fileFd, page.original.data(), kJetPageSize,
                     static_cast<off_t>(std::uint64_t{page.number} * kJetPageSize),
                     "cannot restore Velmora2.db from its journal");
        }
    }
    if (::ftruncate(fileFd, static_cast<off_t>(journal.originalSize)) != 0) {
        throwIo("cannot restore the length of Velmora2.db from its journal", errno);
    }
    if (::fsync(fileFd) != 0) {
        throwIo("cannot flush Velmora2.db after restoring it", errno);
    }
}

// A journal an earlier version left: it holds no checksums of what it wrote,
// so only a file still as it was before is certain; it is then removed.
bool settleEarlierJournal(int folderFd, const std::string& name, std::string_view bytes, int fileFd,
                          std::uint64_t size) {
    if (bytes.size() < kHeaderSizeV1 + 8) {
        removeJournal(folderFd, name); // cut short: written before the file changed
        return true;
    }
    const auto count = static_cast<std::uint32_t>(getLe(bytes, kMagicV1.size() + 8, 4));
    const std::uint64_t length = kHeaderSizeV1 + std::uint64_t{count} * (4 + kJetPageSize) + 8;
    if (count <= kMaxJournalPages && bytes.size() < length) {
        removeJournal(folderFd, name);
        return true;
    }
    if (count > kMaxJournalPages || bytes.size() != length ||
        getLe(bytes, length - 8, 8) != fnv1a(bytes.data(), length - 8)) {
        refuse(name +
               " beside Velmora2.db is damaged (its checksum fails); it was kept and "
               "nothing was written: open Velmora2.db in Access, which repairs it, then "
               "move " +
               name + " away and add again");
    }
    bool unchanged = size == getLe(bytes, kMagicV1.size(), 8);
    for (std::uint32_t i = 0; unchanged && i < count; ++i) {
        const std::size_t at = kHeaderSizeV1 + std::size_t{i} * (4 + kJetPageSize);
        const auto number = getLe(bytes, at, 4);
        unchanged = readAt(fileFd, kJetPageSize, static_cast<off_t>(number * kJetPageSize),
                           "cannot read Velmora2.db") == bytes.substr(at + 4, kJetPageSize);
    }
    if (!unchanged) {
        refuse(name +
               " beside Velmora2.db was left by an add of an earlier version that cannot "
               "be checked against the file; it was kept and nothing was written: if "
               "Velmora2.db opens in Access, move " +
               name + " away and add again");
    }
    removeJournal(folderFd, name);
    return true;
}

} // namespace

void writeJournal(int folderFd, const std::string& name, int fileFd, const JournalPlan& plan) {
    struct stat file {};
    if (::fstat(fileFd, &file) != 0) {
        throwIo("cannot read the catalogue's permissions", errno);
    }
    std::map<std::uint32_t, const Page*> originals(plan.originals.begin(), plan.originals.end());
    std::string bytes(kMagic);
    putLe(bytes, static_cast<std::uint64_t>(file.st_dev), 8);
    putLe(bytes, static_cast<std::uint64_t>(file.st_ino), 8);
    putLe(bytes, plan.originalSize, 8);
    putLe(bytes, plan.finalSize, 8);
    putLe(bytes, plan.written.size(), 4);
    const std::size_t lengthAt = bytes.size();
    putLe(bytes, 0, 8);
    putLe(bytes, 0, 8); // the header's checksum, once the length is known
    for (const auto& [number, page] : plan.written) {
        putLe(bytes, number, 4);
        for (std::size_t s = 0; s < kSectorsPerPage; ++s) {
            putLe(bytes, fnv1a(page->data() + s * kSectorSize, kSectorSize), 8);
        }
        if (std::uint64_t{number} * kJetPageSize < plan.originalSize) {
            const auto original = originals.find(number);
            if (original == originals.end()) {
                throw std::logic_error("a changed page without its original");
            }
            bytes.append(reinterpret_cast<const char*>(original->second->data()), kJetPageSize);
        }
    }
    const std::string length = [&] {
        std::string out;
        putLe(out, bytes.size() + 8, 8);
        return out;
    }();
    bytes.replace(lengthAt, 8, length);
    std::string headerSum;
    putLe(headerSum, fnv1a(bytes.data(), kHeaderSize - 8), 8);
    bytes.replace(kHeaderSize - 8, 8, headerSum);
    putLe(bytes, fnv1a(bytes.data(), bytes.size()), 8);

    const Fd journal(::openat(folderFd, name.c_str(),
                              O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                              file.st_mode & 0666));
    if (journal.fd < 0) {
        throwIo("cannot create the journal " + name, errno);
    }
    try {
        writeAll(journal.fd, bytes.data(), bytes.size(), 0, "cannot write the journal " + name);
        if (::fsync(journal.fd) != 0) {
            throwIo("cannot flush the journal " + name, errno);
        }
        syncFolder(folderFd);
    } catch (...) {
        // Nothing has changed in the catalogue yet: the journal is ours to drop.
        ::unlinkat(folderFd, name.c_str(), 0);
        throw;
    }
}

void removeJournal(int folderFd, const std::string& name) {
    if (::unlinkat(folderFd, name.c_str(), 0) != 0) {
        throwIo("cannot remove the journal " + name, errno);
    }
    syncFolder(folderFd);
}

bool rollBackJournal(int folderFd, const std::string& name, int fileFd, bool mustBeOurs) {
    // Never waits: a FIFO of this name is refused by its type below.
    const Fd journal(::openat(folderFd, name.c_str(),
                              O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (journal.fd < 0 && errno == ENOENT) {
        return false;
    }
    const auto notOurs = [&] {
        if (mustBeOurs) {
            refuse(name + " beside Velmora2.db is not a journal of Velmora2; move it away, then "
                          "add again");
        }
        return false;
    };
    if (journal.fd < 0) {
        if (errno == ELOOP) {
            return notOurs();
        }
        throwIo("cannot open the journal " + name, errno);
    }
    struct stat status {};
    if (::fstat(journal.fd, &status) != 0) {
        throwIo("cannot read the journal " + name, errno);
    }
    if (!S_ISREG(status.st_mode) || static_cast<std::uint64_t>(status.st_size) > kMaxJournalSize) {
        return notOurs();
    }
    const std::string bytes = readAt(journal.fd, static_cast<std::size_t>(status.st_size), 0,
                                     "cannot read the journal " + name);
    struct stat file {};
    if (::fstat(fileFd, &file) != 0) {
        throwIo("cannot read Velmora2.db", errno);
    }
    const auto size = static_cast<std::uint64_t>(file.st_size);
    const std::size_t prefix = std::min(bytes.size(), kMagic.size());
    if (bytes.size() >= kMagicV1.size() && bytes.compare(0, kMagicV1.size(), kMagicV1) == 0) {
        return settleEarlierJournal(folderFd, name, bytes, fileFd, size);
    }
    // Under the name SQLite gives its own journal, only our whole magic says ours.
    if (bytes.compare(0, prefix, kMagic, 0, prefix) != 0 ||
        (!mustBeOurs && bytes.size() < kMagic.size())) {
        return notOurs();
    }
    const std::optional<Journal> parsed = parse(bytes, name);
    if (parsed) {
        if (!fileMatches(fileFd, *parsed, size)) {
            const bool sameFile = parsed->device == static_cast<std::uint64_t>(file.st_dev) &&
                                  parsed->inode == static_cast<std::uint64_t>(file.st_ino);
            refuse(sameFile ? "Velmora2.db was changed by another program after an add was "
                              "interrupted; its journal " +
                                  name +
                                  " was kept and nothing was "
                                  "written: if Velmora2.db opens in Access, move " +
                                  name + " away and add again"
                            : name + " beside Velmora2.db belongs to another file; it was kept and "
                                     "nothing was written: move it away, then add again");
        }
        restore(fileFd, *parsed);
    }
    // A journal cut short was written before the catalogue changed: removing
    // it is all there is to do.
    removeJournal(folderFd, name);
    return true;
}

} // namespace velmora::jet
