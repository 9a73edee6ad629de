#pragma once

#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace velmora {

// What a program's folder in Programi holds of the two files an add copies.
// A name is kept only where it is spelt otherwise than the entry or the add
// spells it, so a list of many entries costs no allocation for them;
// ProgramFolders::path() joins them.
struct ProgramFiles {
    std::string_view program; // the entry's name
    bool folderFound = false;
    bool setup = false;      // Setup.exe
    bool picture = false;    // Picture.bmp
    std::string folder;      // the folder's name as found, when not `program`
    std::string setupName;   // as found, when not Setup.exe
    std::string pictureName; // as found, when not Picture.bmp
    bool complete() const { return setup && picture; }
};

// Which of the two files a path names.
enum class ProgramFile { None, Setup, Picture };

// The program folders of one collection, looked up as the Windows programs
// that share the collection find them: names compare as windowsNameKey does,
// so the entry "tool" has the folder "Tool" and its "SETUP.EXE". Programi is
// read once, so an entry without a folder costs no look-up on the disk, and
// one with a folder two.
class ProgramFolders {
public:
    // `collection` is the collection's folder; a missing Programi holds nothing.
    explicit ProgramFolders(const std::string& collection);

    // What the folder of each of `programs` holds, in their order. The exact
    // names are looked up first; a name without its folder is then looked up
    // by its windowsNameKey among the folders that no name matched exactly, so
    // a collection whose names match its folders computes no key at all.
    std::vector<ProgramFiles> findAll(const std::vector<std::string_view>& programs);
    // "<collection>/Programi/<folder>[/<file>]", written over `into`, which
    // keeps its memory from one path to the next.
    void path(std::string& into, const ProgramFiles& files,
              ProgramFile file = ProgramFile::None) const;
    // The folders in Programi that no name given to find() matched, sorted.
    std::vector<std::string> unclaimed() const;

private:
    // Fills in what the folder `files` names holds.
    void lookInside(ProgramFiles& files);

    std::string m_programi;
    std::unordered_set<std::string> m_names;   // every folder in Programi
    std::unordered_set<std::string> m_claimed; // names found
    std::string m_scratch;
};

} // namespace velmora
