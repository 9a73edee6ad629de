#include "cli/add/collection_catalogue.h"

#include "catalogue/application_folder.h"
#include "catalogue/catalogue_database.h"
#include "cli/add/terminal_report.h"

#include <cerrno>
#include <string_view>
#include <sys/stat.h>

namespace velmora {
namespace {

// The folder as a shell word, so the suggested command can be pasted.
std::string shellWord(std::string_view text) {
    if (!text.empty() &&
        text.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
                               "0123456789/._-+,:@%") == std::string_view::npos) {
        return std::string(text);
    }
    std::string word = "'";
    for (const char c : text) {
        word += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return word + "'";
}

} // namespace

std::optional<std::string> missingCatalogue(const std::string& collection) {
    const std::string folder = collection.empty() ? executableFolder() : collection;
    struct stat status {};
    if (::stat(databasePath(folder).c_str(), &status) == 0 ||
        (errno != ENOENT && errno != ENOTDIR)) {
        return std::nullopt;
    }
    const std::string shown = printable(folder);
    // The velmora2-init beside this program, in full: a collection's programs
    // are seldom on PATH.
    const std::string beside = executableFolder();
    const std::string init =
        beside.empty() ? "velmora2-init" : shellWord(printable(beside + "/velmora2-init"));
    return shown + " holds no catalogue (Velmora2.db); make one with: " + init + " " +
           shellWord(shown);
}

} // namespace velmora
