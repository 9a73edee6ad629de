#include "entry_form/form_commands.h"

#include "entry_form/form_add.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>

namespace velmora {
namespace {

// Writes the chosen file into the box; a cancel leaves the box as it was.
void pick(FormAdd& form, FilePicker& picker, const char* filter, QLineEdit& box) {
    picker.setFilter(QString::fromLatin1(filter));
    if (const auto chosen = picker.showOpen(&form)) {
        box.setText(*chosen);
    }
}

} // namespace

FormCommands::FormCommands(FormAdd& form)
    : m_form(form), m_setupPicker(form.fileDialog()), m_picturePicker(form.fileDialog()) {
    const FormControls& c = form.controls();
    QObject::connect(c.dodajButton, &QPushButton::clicked, &form, [this] { dodaj(); });
    QObject::connect(c.noviButton, &QPushButton::clicked, &form, [this] { novi(); });
    QObject::connect(c.pickSetupButton, &QPushButton::clicked, &form, [this] { pickSetup(); });
    QObject::connect(c.pickPictureButton, &QPushButton::clicked, &form, [this] { pickPicture(); });
    QObject::connect(c.izlazButton, &QPushButton::clicked, &form, [this] { izlaz(); });
}

void FormCommands::dodaj() {
    m_form.runAdd();
}

void FormCommands::novi() {
    const FormControls& c = m_form.controls();
    m_form.setCaption(FormAdd::kCaption);
    c.program->clear();
    c.opis->clear();
    c.source->clear();
    c.slika->clear();
    c.kategorija->setCurrentIndex(0);
    c.kategorija->setCurrentText(QString::fromLatin1(kFirstCategory));
}

void FormCommands::pickSetup() {
    pick(m_form, m_setupPicker, kSetupFilter, *m_form.controls().source);
}

void FormCommands::pickPicture() {
    pick(m_form, m_picturePicker, kPictureFilter, *m_form.controls().slika);
}

void FormCommands::izlaz() {
    m_form.close();
}

} // namespace velmora
