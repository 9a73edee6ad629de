#include "cli/add/batch_add.h"

#include "catalogue/add_operation.h"
#include "cli/add/terminal_window.h"

#include <cstdint>

namespace velmora {

int addEntries(const std::vector<AddEntry>& entries, const std::string& collection,
               ProgressReport& report, InterruptWatch* interrupts) {
    const auto poll = [&] { return interrupts != nullptr ? interrupts->poll() : 0; };
    Tally tally;
    tally.entries = static_cast<int>(entries.size());
    // The cancel flag of both copies; set when a signal is seen during one.
    std::int32_t cancel = 0;
    AddEnvironment environment;
    environment.cancel = &cancel;

    for (std::size_t i = 0; i < entries.size() && poll() == 0; ++i) {
        const AddEntry& entry = entries[i];
        report.startEntry(static_cast<int>(i) + 1, entry.line, entry.text(Field::Program));
        TerminalWindow window(entry, collection, report, interrupts, cancel);
        Outcome outcome = Outcome::Failed;
        switch (Dodaj(window, environment)) {
        case AddOutcome::Added:
            outcome = Outcome::Added;
            ++tally.added;
            break;
        case AddOutcome::Refused:
            outcome = Outcome::Refused;
            ++tally.refused;
            break;
        case AddOutcome::Cancelled:
            outcome = Outcome::Interrupted;
            ++tally.failed;
            break;
        case AddOutcome::DatabaseFailed:
        case AddOutcome::FileStepFailed:
            ++tally.failed;
            break;
        }
        report.finishEntry(outcome);
    }

    const int signal = poll();
    if (signal != 0) {
        report.interrupted(signal, tally.notTried());
    }
    report.summary(tally);
    if (signal != 0) {
        return 128 + signal;
    }
    return tally.added == tally.entries ? 0 : 1;
}

} // namespace velmora
