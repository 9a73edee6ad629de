#pragma once

#include "catalogue/entry_window.h"

#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace velmora::testing {

// A window for core tests: holds the five fields and the application folder,
// and records every read, caption and message box in order.
class RecordingWindow : public EntryWindow {
public:
    struct Box {
        std::string text;
        std::string title;
        bool operator==(const Box&) const = default;
    };

    explicit RecordingWindow(std::string applicationFolder = {});

    void set(Field field, std::string text) { m_fields[field] = std::move(text); }
    // Fills all five fields with a valid entry whose files lie in `folder`.
    void setEntry(std::string kategorija, std::string program, std::string opis, std::string source,
                  std::string slika);

    std::string fieldText(Field field) override;
    void setCaption(std::string_view text) override;
    void messageBox(std::string_view text, std::string_view title) override;
    void processPendingEvents() override;
    std::string applicationFolder() override;

    // "Opis", "Program", ..., and "folder" for the application folder.
    const std::vector<std::string>& reads() const { return m_reads; }
    const std::vector<std::string>& captions() const { return m_captions; }
    const std::vector<Box>& boxes() const { return m_boxes; }
    int pendingEventCalls() const { return m_pendingEventCalls; }

    // Runs inside processPendingEvents, as a window's queued events would.
    std::function<void()> onPendingEvents;
    // Runs inside messageBox, as the user answering it.
    std::function<void(const Box&)> onMessageBox;

private:
    std::string m_folder;
    std::map<Field, std::string> m_fields;
    std::vector<std::string> m_reads;
    std::vector<std::string> m_captions;
    std::vector<Box> m_boxes;
    int m_pendingEventCalls = 0;
};

const char* fieldName(Field field);

} // namespace velmora::testing
