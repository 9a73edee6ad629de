#include "tests/faults/readonly_vfs.h"

#include <sqlite3.h>

namespace velmora::testing {
namespace {

sqlite3_vfs* baseVfs() {
    static sqlite3_vfs* const base = sqlite3_vfs_find(nullptr);
    return base;
}

int openReadOnly(sqlite3_vfs*, sqlite3_filename name, sqlite3_file* file, int flags,
                 int* outFlags) {
    if ((flags & SQLITE_OPEN_MAIN_DB) != 0) {
        flags = (flags & ~(SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE)) | SQLITE_OPEN_READONLY;
    }
    return baseVfs()->xOpen(baseVfs(), name, file, flags, outFlags);
}

sqlite3_vfs makeVfs() {
    sqlite3_vfs vfs = *baseVfs();
    vfs.zName = "velmora-readonly";
    vfs.xOpen = &openReadOnly;
    vfs.pNext = nullptr;
    return vfs;
}

} // namespace

const char* readOnlyVfs() {
    // SQLite keeps the pointer for the life of the process.
    static sqlite3_vfs vfs = makeVfs();
    static const bool registered = sqlite3_vfs_register(&vfs, 0) == SQLITE_OK;
    return registered ? vfs.zName : nullptr;
}

} // namespace velmora::testing
