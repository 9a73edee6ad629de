#pragma once

#include "entry_form/form_add.h"
#include "tests/support/answering_seams.h"

#include <QString>
#include <QTemporaryDir>
#include <memory>

namespace velmora::testing {

// The window on answering services and dialog, in a temporary folder of its
// own. A window test derives from it, calls setUp() in init() and tearDown()
// in cleanup(), and makes the form when its case needs one.
class FormFixture {
protected:
    // A fresh folder (no collection in it), services that give it as the
    // application folder, and a dialog with no answers queued.
    void setUp();
    void tearDown();
    // Shows a form whose "Dodaj" runs `add` (the add operation when empty)
    // and waits until the window is exposed.
    void makeForm(AddAction add = {});

    // The form's control named `name` (its designer name).
    template <typename T> T* child(const char* name) const {
        return m_form->findChild<T*>(QString::fromLatin1(name));
    }

    std::unique_ptr<QTemporaryDir> m_collection;
    std::unique_ptr<AnsweringServices> m_services;
    std::unique_ptr<AnsweringFileDialog> m_dialog;
    std::unique_ptr<FormAdd> m_form;
};

} // namespace velmora::testing
