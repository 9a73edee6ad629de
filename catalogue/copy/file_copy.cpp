#include "catalogue/copy/file_copy.h"

#include "catalogue/copy/background_task.h"
#include "catalogue/copy/copy_error.h"
#include "catalogue/copy/copy_totals.h"
#include "catalogue/copy/entry_name.h"
#include "catalogue/copy/replacing_copy.h"
#include "catalogue/copy/running_copies.h"
#include "catalogue/copy/source_file.h"

#include <cerrno>
#include <fcntl.h>
#include <functional>

namespace velmora {
namespace {

// A NUL would cut a path short and name another file than the one given.
bool holdsNul(std::string_view text) {
    return text.find('\0') != std::string_view::npos;
}

// The calling thread's side of one copy: tells the sink the worker's totals.
class TotalsReporter {
public:
    TotalsReporter(const CopyTotals& state, CopySink& sink) : m_state(state), m_sink(sink) {}

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

    const CopyTotals& m_state;
    CopySink& m_sink;
    bool m_started = false;
    std::int64_t m_reportedDone = -1;
};

// Runs `copy` on a worker while the calling thread reports to `sink`; see
// copyFile.
std::error_code
copyOnWorker(const std::function<std::error_code(CopyTotals&, std::stop_token)>& copy,
             const FileInFolder& target, CopySink& sink, std::stop_token cancel) {
    if (!isSingleFolderName(target.name) ||
        (!target.existing.empty() && !isSingleFolderName(target.existing))) {
        return systemError(EINVAL);
    }
    if (cancel.stop_requested()) {
        return systemError(ECANCELED);
    }
    CopyTotals state;
    TotalsReporter reporter(state, sink);
    std::error_code result;
    BackgroundTask worker;
    state.onStart = [&worker] { worker.wake(); };
    worker.start([&](std::stop_token stop) { result = copy(state, stop); });
    // Reachable from an exit() that unwinds no stack, so that the worker can
    // still be stopped and remove its temporary file.
    const RunningCopy running(worker);

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
    // A NUL would cut the path short; openSource refuses it as well, but
    // nothing should start for it.
    if (holdsNul(source)) {
        return systemError(EINVAL);
    }
    return copyOnWorker(
        [&](CopyTotals& state, std::stop_token stop) {
            const OpenedSource opened = openSource(source, fs);
            return opened.error ? opened.error
                                : copyReplacing(fs, opened.file.get(), target, state, stop);
        },
        target, sink, cancel);
}

std::error_code copyFile(int source, const FileInFolder& target, CopySink& sink,
                         std::stop_token cancel, FileSystem& fs) {
    return copyOnWorker(
        [&](CopyTotals& state, std::stop_token stop) {
            return copyReplacing(fs, source, target, state, stop);
        },
        target, sink, cancel);
}

} // namespace velmora
