#include "cli/add/terminal_front_end.h"

#include "catalogue/add_operation.h"
#include "catalogue/application_folder.h"
#include "cli/add/display_width.h"

#include <algorithm>
#include <utility>

namespace velmora {

TerminalFrontEnd::TerminalFrontEnd(const AddEntry& entry, std::string collection,
                                   TerminalReport& report, InterruptWatch* interrupts,
                                   std::int32_t& cancel)
    : m_entry(entry), m_collection(std::move(collection)), m_report(report),
      m_interrupts(interrupts), m_cancel(cancel) {}

std::string TerminalFrontEnd::fieldText(Field field) {
    return m_entry.text(field);
}

void TerminalFrontEnd::setCaption(std::string_view text) {
    m_report.caption(text);
}

void TerminalFrontEnd::messageBox(std::string_view text, std::string_view title) {
    m_report.message(title, text);
    if (!text.starts_with(texts::kSourceUnusable)) {
        return;
    }
    // A list (or a path) written on Windows separates folders with "\",
    // which here is a letter of the file's name.
    for (const auto& [column, field] :
         {std::pair{"Slika", Field::Slika}, {"Source", Field::Source}}) {
        const std::string& path = m_entry.text(field);
        if (path.find('\\') != std::string::npos && text.find(path) != std::string_view::npos) {
            std::string slashed = path;
            std::replace(slashed.begin(), slashed.end(), '\\', '/');
            m_report.message("hint", std::string(column) + " holds \"\\\", which separates no " +
                                         "folders here; did you mean " + slashed + "?");
        }
    }
}

void TerminalFrontEnd::processPendingEvents() {
    if (m_interrupts == nullptr) {
        return;
    }
    if (m_interrupts->poll() != 0) {
        m_cancel = 1;
    }
    if (m_interrupts->resized()) {
        m_report.setWidth(terminalColumns(m_report.fd()));
    }
}

std::string TerminalFrontEnd::applicationFolder() {
    return m_collection.empty() ? executableFolder() : m_collection;
}

void TerminalFrontEnd::copyStarting(std::string_view targetName) {
    m_report.copyStarting(targetName);
}

} // namespace velmora
