#include "entry_form/entry_application.h"
#include "entry_form/form_add.h"
#include "entry_form/unhandled_failure.h"

#include <exception>

int main(int argc, char** argv) {
    velmora::EntryApplication application(argc, argv);
    try {
        velmora::FormAdd form;
        form.show();
        return velmora::EntryApplication::exec();
    } catch (...) {
        velmora::endWithUnhandledFailure(application.services(), std::current_exception());
    }
}
