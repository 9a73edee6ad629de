#include "access/jet_journal.h"

#include "access/jet_write_error.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace velmora::jet {
namespace {

// magic, original size (8), page count (4), then per page its number (4) and
// bytes, then a 64-bit FNV-1a checksum of everything before it.
constexpr std::string_view kMagic = "Velmora2 Jet page journal 1\n";
constexpr std::size_t kHeaderSize = kMagic.size() + 8 + 4;
constexpr std::size_t kEntrySize = 4 + kJetPageSize;
// A journal never holds more pages than an add changes; this bounds what a
// damaged one can make us read.
constexpr std::uint32_t kMaxJournalPages = 4096;

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

std::uint64_t fnv1a(std::uint64_t hash, const unsigned char* data, std::size_t size) {
    for (std::size_t i = 0; i < size; ++i) {
        hash = (hash ^ data[i]) * 0x100000001B3ULL;
    }
    return hash;
}
constexpr std::uint64_t kFnvStart = 0xCBF29CE484222325ULL;

void putLe(std::string& out, std::uint64_t value, int width) {
    for (int i = 0; i < width; ++i) {
        out.push_back(static_cast<char>(value >> (8 * i)));
    }
}
std::uint64_t getLe(const std::string& in, std::size_t at, int width) {
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

void syncFolder(int folderFd) {
    // Some file systems refuse to flush a directory; the names are then as
    // durable as that file system makes them.
    if (::fsync(folderFd) != 0 && errno != EINVAL && errno != EROFS) {
        throwIo("cannot flush the collection folder", errno);
    }
}

} // namespace

void writeJournal(int folderFd, const std::string& name, int fileFd, std::uint64_t originalSize,
                  const std::vector<std::pair<std::uint32_t, const Page*>>& pages) {
    struct stat file {};
    if (::fstat(fileFd, &file) != 0) {
        throwIo("cannot read the catalogue's permissions", errno);
    }
    std::string bytes(kMagic);
    putLe(bytes, originalSize, 8);
    putLe(bytes, pages.size(), 4);
    for (const auto& [number, page] : pages) {
        putLe(bytes, number, 4);
        bytes.append(reinterpret_cast<const char*>(page->data()), page->size());
    }
    putLe(bytes,
          fnv1a(kFnvStart, reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size()), 8);
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

bool rollBackJournal(int folderFd, const std::string& name, int fileFd) {
    const Fd journal(::openat(folderFd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    if (journal.fd < 0) {
        if (errno == ENOENT) {
            return false;
        }
        throwIo("cannot open the journal " + name, errno);
    }
    struct stat status {};
    if (::fstat(journal.fd, &status) != 0) {
        throwIo("cannot read the journal " + name, errno);
    }
    const auto notOurs = [&] {
        return JetWriteError(JetWriteError::Kind::Damaged, kJetDamaged,
                             name + " beside the catalogue is not a journal of Velmora2; move "
                                    "it away, then add again");
    };
    if (!S_ISREG(status.st_mode) ||
        static_cast<std::uint64_t>(status.st_size) >
            kHeaderSize + std::uint64_t{kMaxJournalPages} * kEntrySize + 8) {
        throw notOurs();
    }
    std::string bytes(static_cast<std::size_t>(status.st_size), '\0');
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t got =
            ::pread(journal.fd, bytes.data() + done, bytes.size() - done, static_cast<off_t>(done));
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            throwIo("cannot read the journal " + name, errno);
        }
        if (got == 0) {
            break;
        }
        done += static_cast<std::size_t>(got);
    }
    bytes.resize(done);
    const std::size_t magicPart = std::min(bytes.size(), kMagic.size());
    if (bytes.compare(0, magicPart, kMagic, 0, magicPart) != 0) {
        throw notOurs();
    }
    bool complete = false;
    std::uint32_t count = 0;
    if (bytes.size() >= kHeaderSize + 8) {
        count = static_cast<std::uint32_t>(getLe(bytes, kMagic.size() + 8, 4));
        complete = count <= kMaxJournalPages &&
                   bytes.size() == kHeaderSize + std::size_t{count} * kEntrySize + 8 &&
                   getLe(bytes, bytes.size() - 8, 8) ==
                       fnv1a(kFnvStart, reinterpret_cast<const unsigned char*>(bytes.data()),
                             bytes.size() - 8);
    }
    if (complete) {
        const std::uint64_t originalSize = getLe(bytes, kMagic.size(), 8);
        for (std::uint32_t i = 0; i < count; ++i) {
            const std::size_t at = kHeaderSize + std::size_t{i} * kEntrySize;
            const auto number = getLe(bytes, at, 4);
            writeAll(fileFd, bytes.data() + at + 4, kJetPageSize,
                     static_cast<off_t>(number * kJetPageSize),
                     "cannot restore Velmora2.db from its journal");
        }
        if (::ftruncate(fileFd, static_cast<off_t>(originalSize)) != 0) {
            throwIo("cannot restore the length of Velmora2.db from its journal", errno);
        }
        if (::fsync(fileFd) != 0) {
            throwIo("cannot flush Velmora2.db after restoring it", errno);
        }
    }
    // A journal cut short was written before the catalogue changed: removing
    // it is all there is to do.
    removeJournal(folderFd, name);
    return true;
}

} // namespace velmora::jet
