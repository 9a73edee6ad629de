#include "catalogue/copy/file_copy.h"

#include "catalogue/copy/background_task.h"
#include "catalogue/copy/copy_error.h"
#include "catalogue/copy/copy_progress_state.h"
#include "catalogue/copy/entry_name.h"
#include "catalogue/copy/replacing_copy.h"

#include <cerrno>
#include <fcntl.h>

namespace velmora {
namespace {

// A NUL would cut a path short and name another file than the one given.
bool holdsNul(std::string_view text) {
    return text.find('\0') != std::string_view::npos;
}

// The calling thread's side of one copy: tells the sink the worker's totals.
class ProgressReporter {
public:
    ProgressReporter(const CopyProgressState& state, CopySink& sink)
        : m_state(state), m_sink(sink) {}

    bool started() const { return m_started; }

    // The report of one slice of waiting once the data moves.
    void tick() {
        report(m_started ? m_state.done() : 0);
        m_started = true;
    }
    // The last report, unless the last one already said the file is done.
    void finish() {
        if (m_started && m_reportedDone != m_state.size()) {
            report(m_state.size());
        }
    }

private:
    void report(std::int64_t done) {
        m_reportedDone = done;
        m_sink.progress(m_state.size(), done);
    }

    const CopyProgressState& m_state;
    CopySink& m_sink;
    bool m_started = false;
    std::int64_t m_reportedDone = -1;
};

} // namespace

OpenedFolder makeFolder(int parent, std::string_view name, FileSystem& fs) {
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

std::error_code copyFile(const std::string& source, const FileInFolder& target, CopySink& sink,
                         std::stop_token cancel, FileSystem& fs) {
    if (holdsNul(source) || !isSingleFolderName(target.name)) {
        return systemError(EINVAL);
    }
    if (cancel.stop_requested()) {
        return systemError(ECANCELED);
    }
    CopyProgressState state;
    ProgressReporter reporter(state, sink);
    std::error_code result;
    BackgroundTask worker;
    state.onStart = [&worker] { worker.wake(); };
    worker.start([&](std::stop_token stop) {
        result = copyReplacing(fs, source, target.folder, target.name, state, stop);
    });

    try {
        for (bool ended = false; !ended;) {
            ended = worker.waitFor();
            if (!cancel.stop_requested() && state.started() && (!reporter.started() || !ended)) {
                reporter.tick();
            } else if (!ended) {
                sink.waiting();
            }
            if (cancel.stop_requested()) {
                worker.requestStop();
            }
        }
    } catch (...) {
        worker.requestStop();
        worker.finish([&sink] { sink.waiting(); });
        throw;
    }
    worker.rethrowFailure();
    if (!result && !cancel.stop_requested()) {
        reporter.finish();
    }
    return result;
}

} // namespace velmora
