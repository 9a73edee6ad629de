#include "catalogue/access_catalogue.h"

#include "access/access_format.h"
#include "access/jet_writer.h"
#include "catalogue/copy/descriptor.h"
#include "catalogue/failure.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>

namespace velmora {
namespace {

constexpr const char* kCatalogueName = "Velmora2.db";

} // namespace

bool isJet4Catalogue(const std::string& databasePath) {
    return accessFormatOfFile(databasePath) == AccessFormat::Jet4;
}

std::optional<Failure> insertIntoAccessCatalogue(const std::string& applicationFolder,
                                                 std::string_view kategorija,
                                                 std::string_view program, std::string_view opis) {
    const Descriptor folder(FileSystem::real(),
                            ::open(applicationFolder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!folder.valid()) {
        const int error = errno;
        throw Failure{error, applicationFolder + ": " + std::strerror(error)};
    }
    try {
        jet::insertCatalogueRow(folder.get(), kCatalogueName, {kategorija, program, opis});
    } catch (const jet::JetWriteError& error) {
        if (error.kind() == jet::JetWriteError::Kind::Rejected) {
            throw EngineRefusal{error.number(), error.what()};
        }
        if (error.kind() == jet::JetWriteError::Kind::AfterCommit) {
            return Failure{error.number(), error.what()};
        }
        throw Failure{error.number(), error.what()};
    }
    return std::nullopt;
}

} // namespace velmora
