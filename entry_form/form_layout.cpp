#include "entry_form/form_layout.h"

#include "entry_form/command_button.h"
#include "entry_form/form_font.h"
#include "entry_form/separator_line.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QWidget>
#include <limits>

namespace velmora {
namespace {

// A place in twips (1/1440 inch); 15 twips make one pixel at 96 dpi, and every
// place of the form is a multiple of 15.
struct Place {
    int left;
    int top;
    int width;
    int height;
};

constexpr int kTwipsPerPixel = 15;

QRect pixels(Place place) {
    return {place.left / kTwipsPerPixel, place.top / kTwipsPerPixel, place.width / kTwipsPerPixel,
            place.height / kTwipsPerPixel};
}

// A line from (x1, y) to (x2, y), the end point not drawn.
QRect linePixels(int x1, int x2, int y) {
    return {x1 / kTwipsPerPixel, y / kTwipsPerPixel, (x2 - x1) / kTwipsPerPixel, 1};
}

template <typename Control> Control* place(Control* control, const char* name, Place where) {
    control->setObjectName(QString::fromLatin1(name));
    control->setGeometry(pixels(where));
    return control;
}

QLabel* label(QWidget& form, const char* name, const char* text, Place where) {
    auto* control = place(new QLabel(QString::fromUtf8(text), &form), name, where);
    control->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    control->setFont(formFont());
    return control;
}

// Program and Opis keep the window's font; the others carry the control font.
enum class TextFont { Window, Control };

QLineEdit* textBox(QWidget& form, const char* name, Place where, TextFont font) {
    auto* control = place(new QLineEdit(&form), name, where);
    control->setMaxLength(std::numeric_limits<int>::max());
    if (font == TextFont::Control) {
        control->setFont(formFont());
    }
    return control;
}

QPushButton* button(QWidget& form, const char* name, const char* text, Place where) {
    auto* control = place(new CommandButton(QString::fromUtf8(text), &form), name, where);
    control->setFont(formFont());
    return control;
}

SeparatorLine* line(QWidget& form, const char* name, QRect where) {
    auto* control = new SeparatorLine(&form);
    control->setObjectName(QString::fromLatin1(name));
    control->setGeometry(where);
    return control;
}

QComboBox* categoryBox(QWidget& form, Place where) {
    auto* control = place(new QComboBox(&form), "Kategorija", where);
    control->setEditable(true);
    control->setInsertPolicy(QComboBox::NoInsert);
    // No completion: what is typed is the category, never a longer entry.
    control->setCompleter(nullptr);
    control->setMaxVisibleItems(9);
    control->addItems(
        {QString::fromLatin1(kFirstCategory), QStringLiteral("Igre"), QStringLiteral("Internet"),
         QStringLiteral("Multimedija"), QStringLiteral("Ostalo"), QStringLiteral("Programiranje"),
         QStringLiteral("Usluzni"), QStringLiteral("Sigurnost"), QStringLiteral("Windows")});
    control->setCurrentIndex(0);
    control->lineEdit()->setMaxLength(std::numeric_limits<int>::max());
    control->setFont(formFont());
    return control;
}

} // namespace

FormControls layOutForm(QWidget& form) {
    form.setFont(formFont());
    form.setFixedSize(kClientWidth, kClientHeight);

    FormControls c;
    c.programLabel = label(form, "Label1", "Program:", {120, 120, 735, 255});
    c.opisLabel = label(form, "Label3", "Opis:", {120, 720, 735, 255});
    c.sourceLabel = label(form, "Label6", "Source:", {120, 1560, 735, 255});
    c.slikaLabel = label(form, "Label7", "Slika:", {120, 2160, 735, 255});
    c.kategorijaLabel = label(form, "Label4", "Kategorija:", {120, 2880, 855, 255});
    c.upperLine = line(form, "Line1", linePixels(120, 4080, 1440));
    c.lowerLine = line(form, "Line2", linePixels(120, 4080, 3600));

    c.program = textBox(form, "Program", {120, 360, 3975, 315}, TextFont::Window);
    c.opis = textBox(form, "Opis", {120, 960, 3975, 315}, TextFont::Window);
    c.source = textBox(form, "Source", {120, 1800, 3495, 315}, TextFont::Control);
    c.pickSetupButton = button(form, "Command4", "...", {3720, 1800, 375, 315});
    c.slika = textBox(form, "Slika", {120, 2400, 3495, 315}, TextFont::Control);
    c.pickPictureButton = button(form, "Command5", "...", {3720, 2400, 375, 315});
    c.kategorija = categoryBox(form, {120, 3120, 3975, 315});
    c.noviButton = button(form, "Command3", "Novi", {120, 3720, 1215, 375});
    c.dodajButton = button(form, "ButtonADD", "Dodaj", {1440, 3720, 1335, 375});
    c.izlazButton = button(form, "Command2", "Izlaz", {2880, 3720, 1215, 375});
    // Below the client area: never seen, never read.
    c.os = textBox(form, "OS", {120, 5880, 6375, 375}, TextFont::Control);

    // Screen readers name each field after its label and each "..." after what
    // it chooses. The labels' buddies give the relation that AT-SPI reads; with
    // no "&" in their texts they add no access key.
    const auto name = [](QLabel* label, QWidget* control, const char* accessibleName) {
        label->setBuddy(control);
        control->setAccessibleName(QString::fromUtf8(accessibleName));
    };
    name(c.programLabel, c.program, "Program");
    name(c.opisLabel, c.opis, "Opis");
    name(c.sourceLabel, c.source, "Source");
    name(c.slikaLabel, c.slika, "Slika");
    name(c.kategorijaLabel, c.kategorija, "Kategorija");
    c.kategorija->lineEdit()->setAccessibleName(c.kategorija->accessibleName());
    c.pickSetupButton->setAccessibleName(QStringLiteral("Izaberi Source"));
    c.pickPictureButton->setAccessibleName(QStringLiteral("Izaberi Sliku"));

    QWidget* const focusOrder[] = {c.kategorija,        c.opis,    c.dodajButton, c.izlazButton,
                                   c.noviButton,        c.source,  c.slika,       c.pickSetupButton,
                                   c.pickPictureButton, c.program, c.os};
    for (std::size_t i = 1; i < std::size(focusOrder); ++i) {
        QWidget::setTabOrder(focusOrder[i - 1], focusOrder[i]);
    }
    c.kategorija->setFocus(Qt::OtherFocusReason);
    return c;
}

} // namespace velmora
