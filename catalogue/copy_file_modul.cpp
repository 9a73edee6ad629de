#include "catalogue/copy_file_modul.h"

#include "catalogue/copy/copy_error.h"
#include "catalogue/entry_window.h"
#include "catalogue/failure.h"

#include <cerrno>
#include <cfenv>
#include <cmath>

namespace velmora {
namespace {

// The routine and the window behind one copy; asks the copy to stop when the
// routine answers otherwise than PROGRESS_CONTINUE or the flag is set.
class RoutineSink final : public CopySink {
public:
    RoutineSink(ProgressRoutine routine, void* lpData, const std::int32_t* cancel)
        : m_routine(routine), m_data(lpData), m_cancel(cancel) {
        checkFlag();
    }

    void progress(std::int64_t size, std::int64_t copied) override {
        const std::uint32_t reason = m_started ? CALLBACK_CHUNK_FINISHED : CALLBACK_STREAM_SWITCH;
        m_started = true;
        if (m_routine != nullptr &&
            m_routine(size, copied, size, copied, 1, reason, -1, -1, m_data) != PROGRESS_CONTINUE) {
            m_stop.request_stop();
        }
        checkFlag();
    }
    void waiting() override {
        if (m_data != nullptr) {
            static_cast<EntryWindow*>(m_data)->processPendingEvents();
        }
        checkFlag();
    }

    std::stop_token token() const { return m_stop.get_token(); }

private:
    void checkFlag() {
        if (m_cancel != nullptr && *m_cancel != 0) {
            m_stop.request_stop();
        }
    }

    const ProgressRoutine m_routine;
    void* const m_data;
    const std::int32_t* const m_cancel;
    std::stop_source m_stop;
    bool m_started = false;
};

} // namespace

OpenedFolder CreateDirectoryA(int parent, std::string_view name, FileSystem& fs) {
    return makeFolder(parent, name, fs);
}

std::error_code CopyFileExA(const std::string& existing, const FileInFolder& newFile,
                            ProgressRoutine progress, void* lpData, const std::int32_t* cancel,
                            std::uint32_t flags, FileSystem& fs) {
    if ((flags & ~COPY_FILE_RESTARTABLE) != 0) {
        return systemError(EINVAL);
    }
    RoutineSink sink(progress, lpData, cancel);
    return copyFile(existing, newFile, sink, sink.token(), fs);
}

namespace CopyFileModul {

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
        throw Failure{kOverflowNumber, "Overflow"};
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

} // namespace CopyFileModul
} // namespace velmora
