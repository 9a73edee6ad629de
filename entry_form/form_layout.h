#pragma once

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QWidget;

namespace velmora {

class SeparatorLine;

// The controls of the window ADD, named for their roles; their object names
// are the designer names the layout and the tests look them up by. The
// window owns them as their parent.
struct FormControls {
    QLabel* programLabel = nullptr;
    QLabel* opisLabel = nullptr;
    QLabel* sourceLabel = nullptr;
    QLabel* slikaLabel = nullptr;
    QLabel* kategorijaLabel = nullptr;
    SeparatorLine* upperLine = nullptr;
    SeparatorLine* lowerLine = nullptr;
    QLineEdit* program = nullptr;
    QLineEdit* opis = nullptr;
    QLineEdit* source = nullptr;
    QPushButton* pickSetupButton = nullptr;
    QLineEdit* slika = nullptr;
    QPushButton* pickPictureButton = nullptr;
    QComboBox* kategorija = nullptr;
    QPushButton* noviButton = nullptr;
    QPushButton* dodajButton = nullptr;
    QPushButton* izlazButton = nullptr;
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
