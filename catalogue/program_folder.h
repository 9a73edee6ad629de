#pragma once

#include "catalogue/copy/file_copy.h"
#include "catalogue/copy/file_system.h"

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

// Opens "Programi" in the application folder, following a link there (the
// user may keep it on another disk), then makes and opens the program's
// folder inside it, never through a link.
OpenedFolder openProgramFolder(const std::string& applicationFolder, std::string_view program,
                               FileSystem& fs);

// Whether openProgramFolder could make or open the program's folder and an
// add write into it, found without making or changing anything: the error it
// would meet, or none.
std::error_code checkProgramFolder(const std::string& applicationFolder, std::string_view program,
                                   FileSystem& fs);

} // namespace velmora
