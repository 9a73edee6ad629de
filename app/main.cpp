#include "entry_form/display_check.h"
#include "entry_form/entry_application.h"
#include "entry_form/form_add.h"
#include "entry_form/unhandled_failure.h"

#include <cstdio>
#include <exception>
#include <optional>
#include <string>

int main(int argc, char** argv) {
    // Without a display Qt's platform plugin aborts inside the application
    // object with a list of plugins; say what is wrong in one line instead.
    if (const std::optional<std::string> missing = velmora::missingDisplay(argc, argv)) {
        std::fprintf(stderr, "%s\n", missing->c_str());
        return 1;
    }
    velmora::EntryApplication application(argc, argv);
    try {
        velmora::FormAdd form;
        form.show();
        return velmora::EntryApplication::exec();
    } catch (...) {
        velmora::endWithUnhandledFailure(application.services(), std::current_exception());
    }
}
