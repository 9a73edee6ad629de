// A small program for the last-resort test: the real application and window,
// a box that prints itself, and a command that does what argv[1] asks:
// "failure", "standard" or "other" throws that kind from the Dodaj click,
// "izlaz" presses Izlaz, "close" closes the window as its title bar would.
#include "catalogue/failure.h"
#include "entry_form/entry_application.h"
#include "entry_form/form_add.h"
#include "entry_form/window_services.h"

#include <QPushButton>
#include <QTimer>
#include <cstdio>
#include <stdexcept>

namespace {

class PrintingServices final : public velmora::WindowServices {
public:
    void messageBox(QWidget* /*parent*/, const QString& text, const QString& title) override {
        std::printf("%s\n%s\n", title.toUtf8().constData(), text.toUtf8().constData());
        std::fflush(stdout);
    }
    std::string applicationFolder() override { return {}; }
};

} // namespace

int main(int argc, char** argv) {
    PrintingServices services;
    velmora::EntryApplication application(argc, argv, &services);
    const QString kind = QCoreApplication::arguments().value(1);

    velmora::FormAdd form(
        velmora::FormSeams{&services, nullptr, [kind](velmora::EntryWindow&) {
                               if (kind == QLatin1String("failure")) {
                                   throw velmora::Failure{-2147217865, "Tablica ne postoji"};
                               }
                               if (kind == QLatin1String("standard")) {
                                   throw std::runtime_error("disk je pun");
                               }
                               throw 7;
                           }});
    form.show();
    QTimer::singleShot(0, &form, [&] {
        if (kind == QLatin1String("izlaz")) {
            form.controls().izlazButton->click();
        } else if (kind == QLatin1String("close")) {
            form.close();
        } else {
            form.controls().dodajButton->click();
        }
    });
    return velmora::EntryApplication::exec();
}
