#pragma once

#include "catalogue/entry_window.h"
#include "entry_form/form_layout.h"

#include <QWidget>
#include <functional>
#include <memory>

namespace velmora {

class FileDialog;
class FormCommands;
class WindowServices;

// What "Dodaj" runs; the add operation unless a test hands in another.
using AddAction = std::function<void(EntryWindow&)>;

// What the window runs on. A null or empty member stands for the platform's
// own: its message boxes and folder, its open-file dialog, the add operation.
struct FormSeams {
    WindowServices* services = nullptr;
    FileDialog* fileDialog = nullptr;
    AddAction add;
};

// The window ADD: the entry form with its controls and commands, and the
// window the add operation runs in.
class FormAdd : public QWidget, public EntryWindow {
    Q_OBJECT

public:
    static constexpr const char* kCaption = "Velmora 2.0 ADD New Program";

    explicit FormAdd(FormSeams seams = {}, QWidget* parent = nullptr);
    ~FormAdd() override;

    const FormControls& controls() const { return m_controls; }
    FileDialog& fileDialog() { return *m_fileDialog; }

    // Runs the add action with the window taking no input meanwhile; a close
    // asked for during the add is carried out when it returns.
    void runAdd();
    bool isAddRunning() const { return m_addRunning; }

    std::string fieldText(Field field) override;
    void setCaption(std::string_view text) override;
    void messageBox(std::string_view text, std::string_view title) override;
    void processPendingEvents() override;
    std::string applicationFolder() override;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    std::unique_ptr<WindowServices> m_ownServices;
    std::unique_ptr<FileDialog> m_ownFileDialog;
    WindowServices* m_services;
    FileDialog* m_fileDialog;
    AddAction m_add;
    FormControls m_controls;
    std::unique_ptr<FormCommands> m_commands;
    bool m_addRunning = false;
    bool m_closeRequested = false;
};

} // namespace velmora
