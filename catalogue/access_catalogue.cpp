#include "catalogue/access_catalogue.h"

#include "access/access_format.h"
#include "access/jet_writer.h"
#include "catalogue/failure.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace velmora {
namespace {

constexpr const char* kCatalogueName = "Velmora2.db";

// The application folder, open for the writer's *at calls, closed on every path.
class FolderDescriptor {
public:
    explicit FolderDescriptor(const std::string& path)
        : m_fd(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
        if (m_fd < 0) {
            const int error = errno;
            throw Failure{error, path + ": " + std::strerror(error)};
        }
    }
    ~FolderDescriptor() { ::close(m_fd); }
    FolderDescriptor(const FolderDescriptor&) = delete;
    FolderDescriptor& operator=(const FolderDescriptor&) = delete;
    int get() const noexcept { return m_fd; }

private:
    int m_fd;
};

} // namespace

bool isJet4Catalogue(const std::string& databasePath) {
    return accessFormatOfFile(databasePath) == AccessFormat::Jet4;
}

void insertIntoAccessCatalogue(const std::string& applicationFolder, std::string_view kategorija,
                               std::string_view program, std::string_view opis) {
    const FolderDescriptor folder(applicationFolder);
    try {
        jet::insertCatalogueRow(folder.get(), kCatalogueName, {kategorija, program, opis});
    } catch (const jet::JetWriteError& error) {
        throw Failure{error.number(), error.what()};
    }
}

} // namespace velmora
