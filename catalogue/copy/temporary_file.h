#pragma once

#include "catalogue/copy/descriptor.h"
#include "catalogue/copy/file_system.h"

#include <string>
#include <string_view>
#include <system_error>

namespace velmora {

// The file a copy writes before it has the target's name, in the target's
// folder so that the final rename stays on one file system. Unnamed
// (O_TMPFILE) where the file system allows it, so that nothing of it is left
// if the program dies; elsewhere (vfat and exFAT sticks, some network file
// systems) named ".<target>.velmora2-XXXXXX", a mark no other program uses,
// and locked from its creation until after its rename, so that the clean-up
// of another add never takes it for a leftover.
class TemporaryFile {
public:
    // Creates the file in `folder`; on failure, valid() is false and error()
    // says why.
    TemporaryFile(FileSystem& fs, int folder, std::string_view target);
    // Removes the file unless it has been renamed over the target.
    ~TemporaryFile();
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

    bool valid() const noexcept { return m_file.valid(); }
    std::error_code error() const noexcept { return m_error; }
    int fd() const noexcept { return m_file.get(); }

    // Ends the writing: closes the descriptor that wrote, whose close can be
    // the first to report a failed write-back, while a second descriptor
    // keeps the file and its lock until the rename.
    std::error_code finishWriting();
    // Gives the complete file the name `name` (the target's, or the name of
    // the entry that stands for it), replacing whatever stood there (a link
    // of that name is replaced, never followed).
    std::error_code replace(std::string_view name);

private:
    std::error_code giveName();

    FileSystem& m_fs;
    BorrowedFd m_folder;
    std::string m_target;
    Descriptor m_file;
    std::string m_name; // the file's current name; empty while it has none
    std::error_code m_error;
};

// Whether `name` has the shape of a temporary file of `target` made by this
// program: ".<target>.velmora2-" and six letters or digits.
bool isTemporaryName(std::string_view name, std::string_view target);

// Removes the temporary files of `target` that killed copies left in
// `folder`: regular files with this program's mark and one link only, whose
// lock no running copy holds. Nothing else is touched, and a file that is not
// what was examined by the time it would be removed is left alone. Returns how
// many were removed.
std::size_t removeAbandonedTemporaries(FileSystem& fs, int folder, std::string_view target);

} // namespace velmora
