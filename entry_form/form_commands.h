#pragma once

#include "entry_form/file_picker.h"

namespace velmora {

class FormAdd;

// The commands of the window's five buttons, connected to their clicks.
class FormCommands {
public:
    static constexpr const char* kSetupFilter = "Programs (*.exe)|*.exe";
    static constexpr const char* kPictureFilter = "Windows Bitmap (*.bmp)|*.bmp";

    explicit FormCommands(FormAdd& form);

    // "Dodaj": the add operation.
    void dodaj();
    // "Novi": the start caption back, then the entry emptied, category first.
    void novi();
    // "..." beside Source: picks the setup executable.
    void pickSetup();
    // "..." beside Slika: picks the picture.
    void pickPicture();
    // "Izlaz": closes the window, which ends the program.
    void izlaz();

private:
    FormAdd& m_form;
    FilePicker m_setupPicker;
    FilePicker m_picturePicker;
};

} // namespace velmora
