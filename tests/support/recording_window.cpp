#include "tests/support/recording_window.h"

namespace velmora::testing {

const char* fieldName(Field field) {
    switch (field) {
    case Field::Program:
        return "Program";
    case Field::Opis:
        return "Opis";
    case Field::Kategorija:
        return "Kategorija";
    case Field::Source:
        return "Source";
    case Field::Slika:
        return "Slika";
    }
    return "?";
}

RecordingWindow::RecordingWindow(std::string applicationFolder)
    : m_folder(std::move(applicationFolder)) {}

void RecordingWindow::setEntry(std::string kategorija, std::string program, std::string opis,
                               std::string source, std::string slika) {
    set(Field::Kategorija, std::move(kategorija));
    set(Field::Program, std::move(program));
    set(Field::Opis, std::move(opis));
    set(Field::Source, std::move(source));
    set(Field::Slika, std::move(slika));
}

std::string RecordingWindow::fieldText(Field field) {
    m_reads.emplace_back(fieldName(field));
    return m_fields[field];
}

void RecordingWindow::setCaption(std::string_view text) {
    m_captions.emplace_back(text);
}

void RecordingWindow::messageBox(std::string_view text, std::string_view title) {
    m_boxes.push_back({std::string(text), std::string(title)});
    if (onMessageBox) {
        onMessageBox(m_boxes.back());
    }
}

void RecordingWindow::processPendingEvents() {
    ++m_pendingEventCalls;
    if (onPendingEvents) {
        onPendingEvents();
    }
}

std::string RecordingWindow::applicationFolder() {
    m_reads.emplace_back("folder");
    return m_folder;
}

} // namespace velmora::testing
