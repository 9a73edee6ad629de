#pragma once

#include <QObject>

class QWidget;

namespace velmora {

// While alive, swallows every user input event (mouse, keyboard, wheel, touch,
// context menu, drag and drop) addressed to `window` or any widget inside it.
// Painting, captions and other windows (a message box the add shows) go on as
// usual. Filtering the application rather than disabling the controls keeps
// the window looking as it did: nothing turns grey for the length of a copy.
class InputBlocker : public QObject {
    Q_OBJECT

public:
    explicit InputBlocker(QWidget& window);
    ~InputBlocker() override;
    InputBlocker(const InputBlocker&) = delete;
    InputBlocker& operator=(const InputBlocker&) = delete;

    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget& m_window;
};

} // namespace velmora
