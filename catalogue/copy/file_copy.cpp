#include "catalogue/copy/file_copy.h"

#include "catalogue/copy/background_task.h"
#include "catalogue/copy/copy_error.h"
#include "catalogue/copy/copy_progress_state.h"
#include "catalogue/copy/entry_name.h"
#include "catalogue/copy/replacing_copy.h"
#include "catalogue/copy/running_copies.h"
#include "catalogue/copy/source_file.h"

#include <cerrno>
#include <fcntl.h>

namespace velmora {
namespace {

// A NUL would cut a path short and name another file than the one given.
bool holdsNul(std::string_view text) {
    return text.find('\0') != std::string_view::npos;
}

// The calling thread's side of one copy: reports the worker's totals to the
// routine, and stops the worker when the routine or the cancel flag says so.
class ProgressReporter {
public:
    ProgressReporter(const CopyProgressState& state, ProgressRoutine routine, void* data,
                     const std::int32_t* cancel)
        : m_state(state), m_routine(routine), m_data(data), m_cancel(cancel) {}

    bool cancelled() const { return m_cancel != nullptr && *m_cancel != 0; }
    bool started() const { return m_started; }

    // The report of one slice of waiting; false when the routine asks the
    // copy to stop.
    bool tick() {
        if (!m_started) {
            m_started = true;
            return report(CALLBACK_STREAM_SWITCH, 0);
        }
        return report(CALLBACK_CHUNK_FINISHED, m_state.done());
    }
    // The last report, unless the last one already said the file is done.
    void finish() {
        if (m_started && m_reportedDone != m_state.size()) {
            report(CALLBACK_CHUNK_FINISHED, m_state.size());
        }
    }

private:
    bool report(std::uint32_t reason, std::int64_t done) {
        const std::int64_t size = m_state.size();
        m_reportedDone = done;
        return m_routine == nullptr ||
               m_routine(size, done, size, done, 1, reason, m_state.source(), m_state.target(),
                         m_data) == PROGRESS_CONTINUE;
    }

    const CopyProgressState& m_state;
    const ProgressRoutine m_routine;
    void* const m_data;
    const std::int32_t* const m_cancel;
    bool m_started = false;
    std::int64_t m_reportedDone = -1;
};

} // namespace

OpenedFolder CreateDirectoryA(int parent, std::string_view name, FileSystem& fs) {
    if (!isSingleFolderName(name)) {
        return {{}, systemError(EINVAL)};
    }
    const std::string level(name);
    if (fs.mkdirAt(parent, level.c_str(), 0777) != 0 && errno != EEXIST) {
        return {{}, systemError(errno)};
    }
    Descriptor folder(fs, fs.openAt(parent, level.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW, 0));
    if (folder.valid()) {
        return {std::move(folder), {}};
    }
    const int error = errno;
    struct stat found {};
    if ((error == ENOTDIR || error == ELOOP) &&
        fs.fstatAt(parent, level.c_str(), &found, AT_SYMLINK_NOFOLLOW) == 0 &&
        S_ISLNK(found.st_mode)) {
        return {{}, CopyError::FolderIsLink};
    }
    return {{}, systemError(error)};
}

std::error_code CopyFileExA(const std::string& existing, const FileInFolder& newFile,
                            ProgressRoutine progress, void* data, const std::int32_t* cancel,
                            std::uint32_t flags, FileSystem& fs,
                            const std::function<void()>& whileWaiting) {
    // A copy is all or nothing, so there is never a partial copy to resume:
    // COPY_FILE_RESTARTABLE needs no work. Other flags are not supported and
    // are refused rather than silently ignored.
    if ((flags & ~COPY_FILE_RESTARTABLE) != 0 || holdsNul(existing) ||
        !isSingleFolderName(newFile.name)) {
        return systemError(EINVAL);
    }
    CopyProgressState state;
    ProgressReporter reporter(state, progress, data, cancel);
    std::error_code result;
    BackgroundTask worker;
    state.onStart = [&worker] { worker.wake(); };
    worker.start([&](std::stop_token stop) {
        const OpenedSource source = openSource(existing, fs);
        result = source.error ? source.error
                              : copyReplacing(fs, source.file.get(), newFile.folder, newFile.name,
                                              state, stop);
    });
    const RunningCopy running(worker);
    const auto pump = [&whileWaiting] {
        if (whileWaiting) {
            whileWaiting();
        }
    };

    bool stopping = false;
    try {
        for (bool ended = false; !ended;) {
            ended = worker.waitFor();
            if (!stopping && state.started() && (!reporter.started() || !ended)) {
                stopping = !reporter.tick();
            } else if (!ended) {
                pump();
            }
            if (!stopping && reporter.cancelled()) {
                stopping = true;
            }
            if (stopping) {
                worker.requestStop();
            }
        }
    } catch (...) {
        worker.requestStop();
        worker.finish(whileWaiting);
        throw;
    }
    worker.rethrowFailure();
    if (!result && !stopping) {
        reporter.finish();
    }
    return result;
}

} // namespace velmora
