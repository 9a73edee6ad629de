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

namespace {

// Runs `step` on the collection folder's descriptor, its errors as Failure.
// A failure after the row is committed comes back as a value: the row is
// stored, so it must never be reported as a failed insert.
template <typename Step>
std::optional<Failure> onCatalogue(const std::string& applicationFolder, Step step) {
    const Descriptor folder(FileSystem::real(),
                            ::open(applicationFolder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!folder.valid()) {
        const int error = errno;
        throw Failure{error, applicationFolder + ": " + std::strerror(error)};
    }
    try {
        step(folder.get());
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

} // namespace

std::optional<Failure> insertIntoAccessCatalogue(const std::string& applicationFolder,
                                                 std::string_view kategorija,
                                                 std::string_view program, std::string_view opis) {
    return onCatalogue(applicationFolder, [&](int folder) {
        jet::insertCatalogueRow(folder, kCatalogueName, {kategorija, program, opis});
    });
}

void checkAccessCatalogueRow(const std::string& applicationFolder, std::string_view kategorija,
                             std::string_view program, std::string_view opis) {
    // Checking writes nothing, so nothing can fail after a commit.
    (void)onCatalogue(applicationFolder, [&](int folder) {
        jet::checkCatalogueRow(folder, kCatalogueName, {kategorija, program, opis});
    });
}

} // namespace velmora
