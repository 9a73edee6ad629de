#include "cli/add/batch_add.h"

#include "catalogue/add_operation.h"
#include "catalogue/windows_name.h"
#include "cli/add/terminal_front_end.h"

#include <cstdint>

namespace velmora {

int addEntries(int count, const std::function<std::optional<AddEntry>()>& nextEntry,
               const std::string& collection, TerminalReport& report, InterruptWatch* interrupts,
               const BatchSettings& settings) {
    const auto poll = [&] { return interrupts != nullptr ? interrupts->poll() : 0; };
    Tally tally;
    tally.entries = count;
    tally.dryRun = settings.dryRun;
    // The cancel flag of both copies; set when a signal is seen during one.
    std::int32_t cancel = 0;
    AddEnvironment environment;
    environment.cancel = &cancel;
    // No window to keep alive: the add's checks and steps run on this thread.
    environment.callerMayWait = true;
    environment.dryRun = settings.dryRun;

    // The entry under way is finished even when its report can no longer be
    // written; the next is not begun.
    int number = 0;
    for (std::optional<AddEntry> next; poll() == 0 && !report.lost() && (next = nextEntry());) {
        const AddEntry& entry = *next;
        report.startEntry(++number, entry.line, entry.text(Field::Program));
        if (!entry.refusal.empty()) {
            const std::size_t colon = entry.refusal.find(": ");
            report.message(entry.refusal.substr(0, colon), entry.refusal.substr(colon + 2));
            ++tally.refused;
            report.finishEntry(Outcome::Refused);
            continue;
        }
        const std::string key =
            settings.catalogued != nullptr ? windowsNameKey(entry.text(Field::Program)) : "";
        if (settings.catalogued != nullptr && settings.catalogued->contains(key)) {
            ++tally.skipped;
            report.finishEntry(Outcome::Skipped);
            continue;
        }
        TerminalFrontEnd window(entry, collection, report, interrupts, cancel);
        Outcome outcome = Outcome::Failed;
        const AddOutcome added = Dodaj(window, environment);
        // Every outcome but these has stored the row (or would have).
        if (settings.catalogued != nullptr && added != AddOutcome::Refused &&
            added != AddOutcome::DatabaseFailed) {
            settings.catalogued->insert(key);
        }
        switch (added) {
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
        case AddOutcome::Checked:
            outcome = Outcome::Checked;
            ++tally.checked;
            break;
        case AddOutcome::FileStepFailed:
            outcome = Outcome::AddedWithFailure;
            ++tally.failed;
            break;
        case AddOutcome::DatabaseFailed:
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
    if (report.lost()) {
        return kReportLost;
    }
    return tally.added + tally.skipped + tally.checked == tally.entries ? 0 : 1;
}

} // namespace velmora
