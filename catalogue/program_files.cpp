#include "catalogue/program_files.h"

#include "catalogue/program_folder.h"
#include "catalogue/windows_name.h"

#include <algorithm>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_map>

namespace velmora {
namespace {

struct DirCloser {
    void operator()(DIR* dir) const noexcept { ::closedir(dir); }
};

bool isDirectoryAt(int dir, const char* name) {
    struct stat status {};
    return ::fstatat(dir, name, &status, 0) == 0 && S_ISDIR(status.st_mode);
}

bool isFileAt(int dir, const std::string& name) {
    struct stat status {};
    return ::fstatat(dir, name.c_str(), &status, 0) == 0 && S_ISREG(status.st_mode);
}

// The folders inside `path` (a link to one counts), or the plain files when
// `files`; nothing when it cannot be read.
std::vector<std::string> entriesOf(const std::string& path, bool files) {
    std::vector<std::string> names;
    const std::unique_ptr<DIR, DirCloser> dir(::opendir(path.c_str()));
    if (!dir) {
        return names;
    }
    const int fd = ::dirfd(dir.get());
    while (const dirent* entry = ::readdir(dir.get())) {
        const std::string_view name = entry->d_name;
        if (name == "." || name == "..") {
            continue;
        }
        // The entry's type saves a look-up where the file system gives it.
        const bool kept = entry->d_type == DT_DIR   ? !files
                          : entry->d_type == DT_REG ? files
                          : files                   ? isFileAt(fd, entry->d_name)
                                                    : isDirectoryAt(fd, entry->d_name);
        if (kept) {
            names.emplace_back(name);
        }
    }
    return names;
}

// The name in `folder` of the file `file`, in any letter case.
std::optional<std::string> fileNamed(const std::string& folder, std::string_view file) {
    if (struct stat status{}; ::stat((folder + "/" + std::string(file)).c_str(), &status) == 0 &&
                              S_ISREG(status.st_mode)) {
        return std::string(file);
    }
    const std::string key = windowsNameKey(file);
    for (std::string& name : entriesOf(folder, true)) {
        if (windowsNameKey(name) == key) {
            return std::move(name);
        }
    }
    return std::nullopt;
}

} // namespace

ProgramFolders::ProgramFolders(const std::string& collection)
    : m_programi(programFolderPath(collection, "")) {
    m_programi.pop_back(); // the "/" after Programi
    for (std::string& name : entriesOf(m_programi, false)) {
        m_names.insert(std::move(name));
    }
}

std::vector<ProgramFiles> ProgramFolders::findAll(const std::vector<std::string_view>& programs) {
    std::vector<ProgramFiles> found(programs.size());
    std::vector<std::size_t> missing;
    for (std::size_t i = 0; i < programs.size(); ++i) {
        found[i].program = programs[i];
        m_scratch.assign(programs[i]);
        if (m_names.contains(m_scratch)) {
            found[i].folderFound = true;
            m_claimed.insert(m_scratch);
        } else if (!m_names.empty()) {
            missing.push_back(i);
        }
    }
    std::unordered_map<std::string, std::string> byKey; // of the folders left
    for (const std::string& name : m_names) {
        if (!m_claimed.contains(name)) {
            byKey.emplace(windowsNameKey(name), name);
        }
    }
    for (const std::size_t i : byKey.empty() ? std::vector<std::size_t>() : missing) {
        if (const auto folder = byKey.find(windowsNameKey(programs[i])); folder != byKey.end()) {
            found[i].folderFound = true;
            found[i].folder = folder->second;
            m_claimed.insert(folder->second);
        }
    }
    for (ProgramFiles& files : found) {
        if (files.folderFound) {
            lookInside(files);
        }
    }
    return found;
}

void ProgramFolders::lookInside(ProgramFiles& files) {
    path(m_scratch, files);
    if (auto name = fileNamed(m_scratch, kSetupName)) {
        files.setup = true;
        if (*name != kSetupName) {
            files.setupName = std::move(*name);
        }
    }
    if (auto name = fileNamed(m_scratch, kPictureName)) {
        files.picture = true;
        if (*name != kPictureName) {
            files.pictureName = std::move(*name);
        }
    }
}

void ProgramFolders::path(std::string& into, const ProgramFiles& files, ProgramFile file) const {
    into.assign(m_programi);
    into += '/';
    into += files.folder.empty() ? files.program : std::string_view(files.folder);
    if (file == ProgramFile::Setup) {
        into += '/';
        into += files.setupName.empty() ? kSetupName : std::string_view(files.setupName);
    } else if (file == ProgramFile::Picture) {
        into += '/';
        into += files.pictureName.empty() ? kPictureName : std::string_view(files.pictureName);
    }
}

std::vector<std::string> ProgramFolders::unclaimed() const {
    std::vector<std::string> names;
    for (const std::string& name : m_names) {
        if (!m_claimed.contains(name)) {
            names.push_back(name);
        }
    }
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace velmora
