#pragma once

#include <string>
#include <string_view>

namespace velmora {

// Where an add puts a program's files: "<application folder>/Programi/<name>",
// and the two fixed target names inside it. Joined as they stand.
std::string programFolderPath(std::string_view applicationFolder, std::string_view program);
std::string pictureTargetPath(std::string_view programFolder);
std::string setupTargetPath(std::string_view programFolder);

} // namespace velmora
