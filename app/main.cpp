#include "entry_form/display_check.h"
#include "entry_form/entry_application.h"
#include "entry_form/form_add.h"
#include "entry_form/unhandled_failure.h"

#include <exception>
#include <optional>

int main(int argc, char** argv) {
    // Without a display Qt's platform plugin aborts inside the application
    // object with a list of plugins; the report says what is wrong in one line
    // instead.
    std::optional<velmora::DisplayFailureReport> report(std::in_place, argc, argv);
    velmora::EntryApplication application(argc, argv);
    report.reset();
    try {
        velmora::FormAdd form;
        form.show();
        return velmora::EntryApplication::exec();
    } catch (...) {
        velmora::endWithUnhandledFailure(application.services(), std::current_exception());
    }
}
