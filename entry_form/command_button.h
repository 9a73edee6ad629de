#pragma once

#include <QPushButton>

namespace velmora {

// A push button of the form: Space and, as on the platform the form comes
// from, Return or keypad Enter press it while it has the focus. It is never a
// default button, so Enter typed anywhere else presses nothing.
class CommandButton : public QPushButton {
    Q_OBJECT

public:
    CommandButton(const QString& text, QWidget* parent);

protected:
    void keyPressEvent(QKeyEvent* event) override;
};

} // namespace velmora
