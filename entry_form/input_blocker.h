#pragma once

#include <QObject>
#include <QPointer>
#include <QWidget>
#include <vector>

namespace velmora {

// While alive, swallows every user input event (mouse, keyboard, wheel, touch,
// context menu, drag and drop) addressed to `window` or any widget inside it.
// Painting, captions and other windows (a message box the add shows) go on as
// usual. Filtering the application rather than disabling the controls keeps
// the window looking as it did: nothing turns grey for the length of a copy.
// A click moves no focus meanwhile either: Qt gives focus on a press before
// any filter sees it, so the controls take focus by tab only while blocked.
// Input to `closeButton` (may be null) passes: a button that asks for the
// window's close, which waits for the add as the title bar's close does.
class InputBlocker : public QObject {
    Q_OBJECT

public:
    explicit InputBlocker(QWidget& window, QWidget* closeButton = nullptr);
    ~InputBlocker() override;
    InputBlocker(const InputBlocker&) = delete;
    InputBlocker& operator=(const InputBlocker&) = delete;

    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct FocusPolicy {
        QPointer<QWidget> widget;
        Qt::FocusPolicy policy;
    };

    QWidget& m_window;
    QPointer<QWidget> m_closeButton;
    // Parents before children: a widget passes its policy on to its focus
    // proxy, which then gets its own.
    std::vector<FocusPolicy> m_focusPolicies;
};

} // namespace velmora
