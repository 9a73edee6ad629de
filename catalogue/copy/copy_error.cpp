#include "catalogue/copy/copy_error.h"

#include <string>

namespace velmora {
namespace {

class CopyErrorCategory final : public std::error_category {
public:
    const char* name() const noexcept override { return "velmora copy"; }
    std::string message(int value) const override {
        switch (static_cast<CopyError>(value)) {
        case CopyError::SourceChanged:
            return "Source file changed during the copy";
        case CopyError::SourceNotAFile:
            return "Source is not a regular file";
        case CopyError::FolderIsLink:
            return "Program folder is a symbolic link";
        case CopyError::SourceNotOnDisk:
            return "Source is not a file on a disk (the kernel makes it as it is read)";
        }
        return "Unknown copy error";
    }
};

} // namespace

const std::error_category& copyErrorCategory() noexcept {
    static const CopyErrorCategory category;
    return category;
}

} // namespace velmora
