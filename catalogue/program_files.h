#pragma once

#include "catalogue/copy/descriptor.h"

#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace velmora {

// What a program's folder in Programi holds of the two files an add copies.
struct ProgramFiles {
    std::string folder; // the folder's path, spelt as found; else as the entry names it
    bool folderFound = false;
    bool setup = false;   // Setup.exe
    bool picture = false; // Picture.bmp
    // The two files' paths, spelt as found; else as an add names them.
    std::string setupPath;
    std::string picturePath;
    bool complete() const { return setup && picture; }
};

// The program folders of one collection, looked up as the Windows programs
// that share the collection find them: names compare as folderNameKey does,
// so the entry "tool" has the folder "Tool" and its "SETUP.EXE". The exact
// spelling is tried first, so a collection made here costs one lookup per file.
class ProgramFolders {
public:
    // `collection` is the collection's folder; a missing Programi holds nothing.
    explicit ProgramFolders(std::string collection);

    ProgramFiles find(std::string_view program);
    // The folders in Programi that no name given to find() matched, sorted.
    std::vector<std::string> unclaimed();

private:
    std::optional<std::string> folderNamed(std::string_view program);
    std::optional<std::string> fileNamed(const std::string& folder, std::string_view file) const;
    const std::unordered_map<std::string, std::string>& listing();

    std::string m_programi;
    Descriptor m_dir;
    std::optional<std::unordered_map<std::string, std::string>> m_listing; // key -> name
    std::unordered_set<std::string> m_claimed;                             // keys
};

} // namespace velmora
