#include "entry_form/display_check.h"
#include "entry_form/entry_application.h"
#include "entry_form/form_add.h"
#include "entry_form/session_end_watch.h"
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
    velmora::SessionEndWatch sessionEnd;
    int status = 0;
    try {
        velmora::FormAdd form;
        QObject::connect(&sessionEnd, &velmora::SessionEndWatch::ended, &form,
                         &velmora::FormAdd::endSession);
        form.show();
        status = velmora::EntryApplication::exec();
    } catch (...) {
        velmora::endWithUnhandledFailure(application.services(), std::current_exception());
    }
    // Ended by a signal, after the copy under way was cancelled: say so, as
    // the signal's default action would have.
    return sessionEnd.received() != 0 ? 128 + sessionEnd.received() : status;
}
