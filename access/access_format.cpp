#include "access/access_format.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace velmora {
namespace {

constexpr std::string_view kJetSignature("Standard Jet DB\0", 16);
constexpr std::string_view kAceSignature("Standard ACE DB\0", 16);
constexpr std::size_t kSignatureOffset = 4;
constexpr std::size_t kVersionOffset = 0x14;

} // namespace

AccessFormat accessFormat(std::string_view header) {
    if (header.size() < kAccessHeaderSize) {
        return AccessFormat::None;
    }
    const std::string_view signature = header.substr(kSignatureOffset, kJetSignature.size());
    if (signature == kAceSignature) {
        return AccessFormat::Ace;
    }
    if (signature != kJetSignature) {
        return AccessFormat::None;
    }
    switch (static_cast<unsigned char>(header[kVersionOffset])) {
    case 0:
        return AccessFormat::Jet3;
    case 1:
        return AccessFormat::Jet4;
    default:
        return AccessFormat::JetUnknown;
    }
}

AccessFormat accessFormatOfFile(const std::string& path) {
    // Without waiting: a FIFO would block the open until a writer came.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        return AccessFormat::None;
    }
    struct stat status {};
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        ::close(fd);
        return AccessFormat::None;
    }
    char header[kAccessHeaderSize];
    const ssize_t got = ::pread(fd, header, sizeof header, 0);
    ::close(fd);
    return got == static_cast<ssize_t>(sizeof header)
               ? accessFormat(std::string_view(header, sizeof header))
               : AccessFormat::None;
}

std::string_view accessFormatName(AccessFormat format) {
    switch (format) {
    case AccessFormat::Jet3:
        return "Jet 3";
    case AccessFormat::Jet4:
        return "Jet 4";
    case AccessFormat::Ace:
        return ".accdb";
    case AccessFormat::JetUnknown:
        return "Jet, unknown version";
    case AccessFormat::None:
        break;
    }
    return "not Access";
}

std::string accessCatalogueDescription(AccessFormat format) {
    switch (format) {
    case AccessFormat::Jet3:
        return "Velmora2.db is an Access 97 (Jet 3) catalogue, which the add does not write in "
               "place; convert it with velmora2-init --convert";
    case AccessFormat::Jet4:
        return "Velmora2.db is an Access (Jet 4) catalogue";
    case AccessFormat::Ace:
        return "Velmora2.db is an Access 2007 or later (.accdb) catalogue; save it in Access 2000 "
               "format (.mdb), then add to it or convert it with velmora2-init --convert";
    case AccessFormat::JetUnknown:
        return "Velmora2.db is an Access catalogue of a version velmora2-init does not know";
    case AccessFormat::None:
        break;
    }
    return {};
}

} // namespace velmora
