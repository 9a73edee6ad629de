#include "catalogue/program_folder.h"

#include "catalogue/copy/copy_error.h"
#include "catalogue/copy/temporary_file.h"
#include "catalogue/copy_file_modul.h"
#include "catalogue/windows_name.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace velmora {

std::string programFolderPath(std::string_view applicationFolder, std::string_view program) {
    std::string path(applicationFolder);
    path += '/';
    path += kProgramsFolder;
    path += '/';
    path += program;
    return path;
}

std::string targetPath(std::string_view programFolder, std::string_view name) {
    std::string path(programFolder);
    path += '/';
    path += name;
    return path;
}

std::string entryNameFor(int folder, std::string_view name, FileSystem& fs) {
    std::string exact(name);
    struct stat found {};
    if (fs.fstatAt(folder, exact.c_str(), &found, AT_SYMLINK_NOFOLLOW) == 0) {
        return exact;
    }
    std::vector<std::string> names;
    std::string same;
    if (fs.listFolder(folder, names) == 0) {
        for (std::string& entry : names) {
            if (sameWindowsName(entry, name) && (same.empty() || entry < same)) {
                same = std::move(entry);
            }
        }
    }
    return same.empty() ? exact : same;
}

OpenedFolder openProgramFolder(const std::string& applicationFolder, std::string_view program,
                               FileSystem& fs) {
    const std::string programs = programFolderPath(applicationFolder, "");
    const Descriptor parent(fs, fs.openAt(AT_FDCWD, programs.c_str(), O_RDONLY | O_DIRECTORY, 0));
    if (!parent.valid()) {
        return {{}, systemError(errno)};
    }
    // Two adds of names that differ in case only ("Tool", "tool") find one
    // folder: whichever looks second sees the folder the first made. Only
    // adds take this lock, and only for as long as finding and making take.
    fs.flock(parent.get(), LOCK_EX);
    OpenedFolder opened =
        CreateDirectoryA(parent.get(), entryNameFor(parent.get(), program, fs), fs);
    fs.flock(parent.get(), LOCK_UN);
    return opened;
}

bool lockProgramFolder(int folder, std::chrono::milliseconds patience, FileSystem& fs) {
    const auto deadline = std::chrono::steady_clock::now() + patience;
    for (;;) {
        if (fs.flock(folder, LOCK_EX | LOCK_NB) == 0) {
            return true;
        }
        // A file system without locks cannot keep two adds apart either way.
        if (errno != EWOULDBLOCK && errno != EINTR) {
            return true;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

std::size_t removeLeftoverCopies(int folder, FileSystem& fs) {
    std::size_t removed = 0;
    for (const std::string_view target : {kPictureName, kSetupName}) {
        removed += removeAbandonedTemporaries(fs, folder, target);
    }
    return removed;
}

std::size_t removeLeftoverCopiesOfAll(int programs, FileSystem& fs) {
    std::vector<std::string> names;
    std::size_t removed = 0;
    if (fs.listFolder(programs, names) != 0) {
        return removed;
    }
    for (const std::string& name : names) {
        const Descriptor folder(
            fs, fs.openAt(programs, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW, 0));
        if (folder.valid()) {
            removed += removeLeftoverCopies(folder.get(), fs);
        }
    }
    return removed;
}

std::error_code checkProgramFolder(const std::string& applicationFolder, std::string_view program,
                                   FileSystem& fs) {
    const std::string programs = programFolderPath(applicationFolder, "");
    const Descriptor parent(fs, fs.openAt(AT_FDCWD, programs.c_str(), O_RDONLY | O_DIRECTORY, 0));
    if (!parent.valid()) {
        return systemError(errno);
    }
    // The folder an add would use: one whose name differs in case only is it.
    const std::string name = entryNameFor(parent.get(), program, fs);
    struct stat found {};
    if (fs.fstatAt(parent.get(), name.c_str(), &found, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno != ENOENT) {
            return systemError(errno);
        }
        // A new folder: Programi must take it.
        return ::faccessat(parent.get(), ".", W_OK | X_OK, AT_EACCESS) == 0 ? std::error_code()
                                                                            : systemError(errno);
    }
    if (S_ISLNK(found.st_mode)) {
        return CopyError::FolderIsLink;
    }
    if (!S_ISDIR(found.st_mode)) {
        return systemError(ENOTDIR);
    }
    return ::faccessat(parent.get(), name.c_str(), W_OK | X_OK, AT_EACCESS | AT_SYMLINK_NOFOLLOW) ==
                   0
               ? std::error_code()
               : systemError(errno);
}

} // namespace velmora
