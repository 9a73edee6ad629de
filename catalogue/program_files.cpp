#include "catalogue/program_files.h"

#include "catalogue/folder_name_key.h"
#include "catalogue/program_folder.h"

#include <algorithm>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace velmora {
namespace {

struct DirCloser {
    void operator()(DIR* dir) const noexcept { ::closedir(dir); }
};

// The names in the folder open as `fd` (which stays open), "." and ".." left out.
std::vector<std::string> namesIn(int fd) {
    std::vector<std::string> names;
    const int own = ::openat(fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (own < 0) {
        return names;
    }
    const std::unique_ptr<DIR, DirCloser> dir(::fdopendir(own));
    if (!dir) {
        ::close(own);
        return names;
    }
    while (const dirent* entry = ::readdir(dir.get())) {
        const std::string_view name = entry->d_name;
        if (name != "." && name != "..") {
            names.emplace_back(name);
        }
    }
    return names;
}

bool isDirectoryAt(int dir, const std::string& name) {
    struct stat status {};
    return ::fstatat(dir, name.c_str(), &status, 0) == 0 && S_ISDIR(status.st_mode);
}

bool isFileAt(int dir, const std::string& name) {
    struct stat status {};
    return ::fstatat(dir, name.c_str(), &status, 0) == 0 && S_ISREG(status.st_mode);
}

} // namespace

ProgramFolders::ProgramFolders(std::string collection)
    : m_programi(programFolderPath(collection, "")),
      m_dir(FileSystem::real(),
            ::open(programFolderPath(collection, "").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
    if (!m_programi.empty() && m_programi.back() == '/') {
        m_programi.pop_back();
    }
}

const std::unordered_map<std::string, std::string>& ProgramFolders::listing() {
    if (!m_listing) {
        m_listing.emplace();
        if (m_dir.valid()) {
            for (std::string& name : namesIn(m_dir.get())) {
                if (isDirectoryAt(m_dir.get(), name)) {
                    m_listing->emplace(folderNameKey(name), std::move(name));
                }
            }
        }
    }
    return *m_listing;
}

std::optional<std::string> ProgramFolders::folderNamed(std::string_view program) {
    // Only a name that is one folder inside Programi has one.
    if (!m_dir.valid() || program.empty() || program == "." || program == ".." ||
        program.find('/') != std::string_view::npos ||
        program.find('\0') != std::string_view::npos) {
        return std::nullopt;
    }
    const std::string exact(program);
    if (isDirectoryAt(m_dir.get(), exact)) {
        return exact;
    }
    const auto& folders = listing();
    const auto found = folders.find(folderNameKey(program));
    if (found == folders.end()) {
        return std::nullopt;
    }
    return found->second;
}

std::optional<std::string> ProgramFolders::fileNamed(const std::string& folder,
                                                     std::string_view file) const {
    if (isFileAt(m_dir.get(), folder + "/" + std::string(file))) {
        return std::string(file);
    }
    const int fd = ::openat(m_dir.get(), folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        return std::nullopt;
    }
    const Descriptor inside(FileSystem::real(), fd);
    const std::string key = folderNameKey(file);
    for (const std::string& name : namesIn(fd)) {
        if (folderNameKey(name) == key && isFileAt(fd, name)) {
            return name;
        }
    }
    return std::nullopt;
}

ProgramFiles ProgramFolders::find(std::string_view program) {
    ProgramFiles files;
    const std::optional<std::string> folder = folderNamed(program);
    files.folder = m_programi + "/" + (folder ? *folder : std::string(program));
    files.setupPath = targetPath(files.folder, kSetupName);
    files.picturePath = targetPath(files.folder, kPictureName);
    if (!folder) {
        return files;
    }
    m_claimed.insert(folderNameKey(*folder));
    files.folderFound = true;
    if (const auto setup = fileNamed(*folder, kSetupName)) {
        files.setup = true;
        files.setupPath = targetPath(files.folder, *setup);
    }
    if (const auto picture = fileNamed(*folder, kPictureName)) {
        files.picture = true;
        files.picturePath = targetPath(files.folder, *picture);
    }
    return files;
}

std::vector<std::string> ProgramFolders::unclaimed() {
    std::vector<std::string> names;
    for (const auto& [key, name] : listing()) {
        if (!m_claimed.contains(key)) {
            names.push_back(name);
        }
    }
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace velmora
