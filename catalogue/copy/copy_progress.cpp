#include "catalogue/copy/copy_progress.h"

#include "catalogue/entry_window.h"
#include "catalogue/failure.h"

#include <cfenv>
#include <cmath>

namespace velmora::CopyFileModul {

std::string progressText(std::int64_t totalFileSize, std::int64_t totalBytesTransferred) {
    // An empty file has nothing left to copy; dividing 0 by 0 would turn an
    // ordinary copy into a failure.
    if (totalFileSize == 0 && totalBytesTransferred == 0) {
        return "100% Complete";
    }
    std::feclearexcept(FE_ALL_EXCEPT);
    // volatile keeps the compiler from folding or reordering the two steps
    // away from the flag test.
    volatile double ratio =
        static_cast<double>(totalBytesTransferred) / static_cast<double>(totalFileSize);
    volatile double percent = ratio * 100.0;
    if (std::fetestexcept(FE_INVALID | FE_DIVBYZERO | FE_OVERFLOW) != 0) {
        throw Failure{6, "Overflow"};
    }
    return std::to_string(static_cast<long long>(std::floor(percent))) + "% Complete";
}

std::uint32_t CopyProgressRoutine(std::int64_t TotalFileSize, std::int64_t TotalBytesTransferred,
                                  std::int64_t /*StreamSize*/,
                                  std::int64_t /*StreamBytesTransferred*/,
                                  std::uint32_t /*dwStreamNumber*/,
                                  std::uint32_t /*dwCallbackReason*/, FileHandle /*hSourceFile*/,
                                  FileHandle /*hDestinationFile*/, void* lpData) {
    auto& window = *static_cast<EntryWindow*>(lpData);
    window.setCaption(progressText(TotalFileSize, TotalBytesTransferred));
    window.processPendingEvents();
    return PROGRESS_CONTINUE;
}

} // namespace velmora::CopyFileModul
