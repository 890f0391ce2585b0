// korvanel [STATIONS]: the window program. Starts Qt, shows the one main
// window (with the station file named, if one is) and runs the event loop
// until that window closes.
#include <exception>

#include <QCoreApplication>
#include <QStringList>

#include "gui/Form1.h"
#include "platform/qt/QtApplication.h"
#include "platform/qt/QtDialogs.h"

namespace {

constexpr int exit_code = 0; // also after an error that ended the event loop

} // namespace

int main(int argc, char **argv) {
    TApplication application(argc, argv);
    InstallMessageBoxHandler();
    TForm1 form;
    Form1 = &form;
    // A station file named on the command line (the desktop's "Open with").
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() > 1) {
        form.TakeStationFile(arguments[1]);
    }
    form.show();
    try {
        application.exec();
    } catch (const std::exception &error) {
        ShowErrorBox(nullptr, QString::fromStdString(error.what()));
    } catch (...) {
        ShowErrorBox(nullptr, unknown_error_text);
    }
    Form1 = nullptr;
    return exit_code;
}
