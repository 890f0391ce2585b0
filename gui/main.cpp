// korvanel: the window program. Starts Qt, shows the one main window and runs
// the event loop until that window closes.
#include <exception>

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
