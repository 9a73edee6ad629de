#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Jet's multi-user protocol, as its engine speaks it to other programs that
// share a catalogue (Access on this or another machine, through a shared
// folder: Samba maps Windows byte-range locks onto POSIX ones):
//
//  1. Beside "X.db" lies the lock file "X.ldb": an array of 64-byte user
//     entries (computer name, 32 bytes, then account name, 32 bytes).
//  2. A user holds a one-byte lock at 0x10000000 + n (n = 1..255) for as
//     long as it has the catalogue open; its entry is the n-th of the array.
//     An entry without its lock is a leftover and means nobody.
//  3. Before a page changes, its writer holds an exclusive lock from
//     0x20000000 + 256 * page + 1 over 256 bytes and as many more as its
//     user number, so that others can tell who holds it.
//
// Jet 3 and later take no commit lock (only Jet 2 locked pages while writing
// them to disk), so there is none to take here. The per-user commit bytes of
// the header page are left as they are: the one published description (Jet 2
// and 3: non-zero without a user lock means "being written") does not match
// the files Access writes, whose idle slots all hold 00 01, so no value we
// could write is known to mean what Access would read.
//
// The locks are open file description locks (F_OFD_SETLK): they conflict
// with the POSIX locks a file server takes for Windows clients, and no other
// descriptor of the file in this process can drop them by closing. Where a
// file system has none (a CIFS mount) they are the process's POSIX locks.
namespace velmora::jet {

// "Velmora2.db" -> "Velmora2.ldb".
std::string lockFileName(std::string_view fileName);

class JetLockFile {
public:
    // Opens (or makes) the lock file beside `fileName` in `folderFd` and
    // waits up to `wait` while another user holds a user lock (2); then
    // refuses with JetWriteError (InUse) naming that user's computer.
    // Otherwise takes the first free user lock, on the lock file and on the
    // catalogue `catalogueFd` alike, and writes our entry.
    JetLockFile(int folderFd, std::string_view fileName, int catalogueFd,
                std::chrono::milliseconds wait);
    // Clears our entry and releases every lock; removes the lock file when
    // we made it and nobody else is in it.
    ~JetLockFile();
    JetLockFile(const JetLockFile&) = delete;
    JetLockFile& operator=(const JetLockFile&) = delete;

    // Takes the write locks (3) on these pages of the catalogue; refuses
    // (InUse) when another user holds one.
    void lockPagesForWrite(const std::vector<std::uint32_t>& pages);

    int userNumber() const { return m_user; }

private:
    // The user number of another program's user lock, or 0.
    int otherUser() const;

    int m_folderFd;
    std::string m_name;
    int m_catalogueFd;
    int m_fd = -1;
    bool m_made = false;
    int m_user = 0;
};

} // namespace velmora::jet
