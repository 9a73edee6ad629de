#pragma once

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QWidget;

namespace velmora {

class SeparatorLine;

// The controls of the window ADD. The window owns them as their parent.
struct FormControls {
    QLabel* label1 = nullptr;
    QLabel* label3 = nullptr;
    QLabel* label6 = nullptr;
    QLabel* label7 = nullptr;
    QLabel* label4 = nullptr;
    SeparatorLine* line1 = nullptr;
    SeparatorLine* line2 = nullptr;
    QLineEdit* program = nullptr;
    QLineEdit* opis = nullptr;
    QLineEdit* source = nullptr;
    QPushButton* command4 = nullptr;
    QLineEdit* slika = nullptr;
    QPushButton* command5 = nullptr;
    QComboBox* kategorija = nullptr;
    QPushButton* command3 = nullptr;
    QPushButton* buttonAdd = nullptr;
    QPushButton* command2 = nullptr;
    QLineEdit* os = nullptr;
};

// The window's client size in pixels at 96 dpi.
inline constexpr int kClientWidth = 281;
inline constexpr int kClientHeight = 281;
// The category box's first entry, its text at start and after "Novi".
inline constexpr const char* kFirstCategory = "CDDVD";

// Creates every control on `form` at its place, with its name, text, font and
// focus order, and gives `form` its font and fixed size. Labels and lines are
// made first so that the input controls are drawn over them.
FormControls layOutForm(QWidget& form);

} // namespace velmora
