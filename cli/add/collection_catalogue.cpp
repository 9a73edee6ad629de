#include "cli/add/collection_catalogue.h"

#include "catalogue/application_folder.h"
#include "catalogue/catalogue_database.h"
#include "catalogue/no_catalogue.h"
#include "cli/add/terminal_report.h"

#include <cerrno>
#include <sys/stat.h>

namespace velmora {

std::optional<std::string> missingCatalogue(const std::string& collection) {
    const std::string folder = collection.empty() ? executableFolder() : collection;
    struct stat status {};
    if (::stat(databasePath(folder).c_str(), &status) == 0 ||
        (errno != ENOENT && errno != ENOTDIR)) {
        return std::nullopt;
    }
    // The velmora2-init beside this program, in full: a collection's programs
    // are seldom on PATH.
    const std::string beside = executableFolder();
    return noCatalogueDescription(printable(folder),
                                  beside.empty() ? "" : printable(beside + "/velmora2-init"));
}

} // namespace velmora
