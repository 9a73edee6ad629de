#pragma once

#include <system_error>

namespace velmora {

// Why a folder or copy step failed where the system gives no number of its
// own. Shown, like the system's reasons, after the path in the step's box.
enum class CopyError {
    SourceChanged = 1,
    SourceNotAFile,
    FolderIsLink,
    SourceNotOnDisk,
};

const std::error_category& copyErrorCategory() noexcept;

inline std::error_code make_error_code(CopyError error) noexcept {
    return {static_cast<int>(error), copyErrorCategory()};
}

// The system's error `number` (an errno value).
inline std::error_code systemError(int number) noexcept {
    return {number, std::system_category()};
}

} // namespace velmora

template <> struct std::is_error_code_enum<velmora::CopyError> : std::true_type {};
