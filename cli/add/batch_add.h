#pragma once

#include "cli/add/add_entry.h"
#include "cli/add/interrupt_watch.h"
#include "cli/add/terminal_report.h"

#include <functional>
#include <optional>
#include <string>

namespace velmora {

// The exit status when the report could not be written to the end.
inline constexpr int kReportLost = 3;

// Runs the add operation once per entry that `nextEntry` hands over (none:
// the end; `count` of them are expected), in order, into `collection` (empty:
// the folder that holds the executable), reporting each entry and then the
// summary. An entry with a refusal of its own is reported and not added. A
// refused or failed entry does not stop the rest; SIGINT, SIGTERM or SIGHUP
// seen by `interrupts` cancels the copy under way and skips the rest; a report
// that can no longer be written skips the rest once the entry under way is
// finished. Returns the exit status: 0 when every entry was added without a
// message, 1 when any was refused or failed, kReportLost when the report was
// lost, 128 + the signal's number when interrupted.
int addEntries(int count, const std::function<std::optional<AddEntry>()>& nextEntry,
               const std::string& collection, TerminalReport& report, InterruptWatch* interrupts);

} // namespace velmora
