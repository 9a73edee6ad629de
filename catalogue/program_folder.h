#pragma once

#include "catalogue/copy/file_copy.h"
#include "catalogue/copy/file_system.h"

#include <chrono>
#include <string>
#include <string_view>

namespace velmora {

inline constexpr std::string_view kProgramsFolder = "Programi";
inline constexpr std::string_view kPictureName = "Picture.bmp";
inline constexpr std::string_view kSetupName = "Setup.exe";

// Where an add puts a program's files: "<application folder>/Programi/<name>",
// and a file inside it, joined as they stand. For the user's eyes; the add
// itself works through the folder's descriptor.
std::string programFolderPath(std::string_view applicationFolder, std::string_view program);
std::string targetPath(std::string_view programFolder, std::string_view name);

// The name under which the open folder `folder` holds `name`, as Windows finds
// it: `name` itself when an entry has exactly that name, else the entry that
// Windows takes for the same name ("Tool" for "tool", "setup.exe" for
// "Setup.exe"; the first in byte order where several are), else `name`, for
// an entry still to be made. A program's folder in Programi, a file in it.
std::string entryNameFor(int folder, std::string_view name, FileSystem& fs);

// Opens "Programi" in the application folder, following a link there (the
// user may keep it on another disk), then makes and opens the program's
// folder inside it (under the name entryNameFor gives), never through a link.
OpenedFolder openProgramFolder(const std::string& applicationFolder, std::string_view program,
                               FileSystem& fs);

// Takes the lock that keeps a second add of the same program out of its
// folder until the first has copied both files (released when `folder` is
// closed). Tries for at most `patience`; false when another add still holds it.
bool lockProgramFolder(int folder, std::chrono::milliseconds patience, FileSystem& fs);

// Removes what killed copies left in one program folder: the temporary files
// of Picture.bmp and Setup.exe that removeAbandonedTemporaries takes. Returns
// how many went.
std::size_t removeLeftoverCopies(int folder, FileSystem& fs);

// The same in every program folder of the open folder `programs`; a program
// folder that is a symbolic link is not entered.
std::size_t removeLeftoverCopiesOfAll(int programs, FileSystem& fs);

// Whether openProgramFolder could make or open the program's folder and an
// add write into it, found without making or changing anything: the error it
// would meet, or none.
std::error_code checkProgramFolder(const std::string& applicationFolder, std::string_view program,
                                   FileSystem& fs);

} // namespace velmora
