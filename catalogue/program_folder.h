#pragma once

#include <string>
#include <string_view>

namespace velmora {

// Where an add puts a program's files: "<application folder>/Programi/<name>",
// and the two fixed target names inside it. Joined as they stand.
inline constexpr std::string_view kPictureName = "Picture.bmp";
inline constexpr std::string_view kSetupName = "Setup.exe";

std::string programFolderPath(std::string_view applicationFolder, std::string_view program);
// "<program folder>/<name>".
std::string targetPath(std::string_view programFolder, std::string_view name);

} // namespace velmora
