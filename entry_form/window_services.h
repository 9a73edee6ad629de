#pragma once

#include <QString>
#include <string>

class QWidget;

namespace velmora {

// The run-time services the window and the last-resort handler call: modal
// message boxes and the application folder. Tests hand in their own, so no
// box ever waits for a user and the collection can live in a temporary folder.
class WindowServices {
public:
    virtual ~WindowServices() = default;

    // A modal box with the critical icon and a single OK button; returns when
    // it is closed.
    virtual void messageBox(QWidget* parent, const QString& text, const QString& title) = 0;
    // The folder that holds the executable, as bytes; read anew at each call.
    virtual std::string applicationFolder() = 0;
};

// The platform's message boxes and the executable's own folder.
class PlatformWindowServices final : public WindowServices {
public:
    void messageBox(QWidget* parent, const QString& text, const QString& title) override;
    std::string applicationFolder() override;
};

} // namespace velmora
