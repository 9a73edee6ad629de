#pragma once

#include "cli/add/add_entry.h"
#include "cli/add/interrupt_watch.h"
#include "cli/add/terminal_report.h"

#include <functional>
#include <optional>
#include <string>
#include <unordered_set>

namespace velmora {

// The exit status when the report could not be written to the end.
inline constexpr int kReportLost = 3;

// How a run treats its entries besides adding them.
struct BatchSettings {
    // Every check of an add and nothing written (Outcome::Checked).
    bool dryRun = false;
    // The windowsNameKey of every name in the catalogue: an entry whose name
    // is among them is skipped, and each name stored (or, in a dry run, that
    // would be) joins them. Null: nothing is skipped.
    std::unordered_set<std::string>* catalogued = nullptr;
};

// Runs the add operation once per entry that `nextEntry` hands over (none:
// the end; `count` of them are expected), in order, into `collection` (empty:
// the folder that holds the executable), reporting each entry and then the
// summary. An entry with a refusal of its own is reported and not added. A
// refused or failed entry does not stop the rest; SIGINT, SIGTERM or SIGHUP
// seen by `interrupts` cancels the copy under way and skips the rest; a report
// that can no longer be written skips the rest once the entry under way is
// finished. Returns the exit status: 0 when every entry was added without a
// message, 1 when any was refused or failed, kReportLost when the report was
// lost, 128 + the signal's number when interrupted. A skipped entry, and one
// that passed a dry run, count as added.
int addEntries(int count, const std::function<std::optional<AddEntry>()>& nextEntry,
               const std::string& collection, TerminalReport& report, InterruptWatch* interrupts,
               const BatchSettings& settings = {});

} // namespace velmora
