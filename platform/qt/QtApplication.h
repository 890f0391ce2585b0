// The Qt application object of the window program and the window's font.
#pragma once

#include <functional>

#include <QApplication>
#include <QFont>
#include <QString>

// What the error box says for an error that carries no message.
inline constexpr const char *unknown_error_text = "An unknown error occurred.";

// QApplication whose event loop shows an error that escapes a handler in the
// error box instead of letting it unwind through Qt; the loop then goes on.
class TApplication : public QApplication {
  public:
    TApplication(int &argc, char **argv);

    bool notify(QObject *receiver, QEvent *event) override;

    // What shows such an error: the error box over the active window by
    // default; tests replace it so nothing blocks.
    std::function<void(const QString &)> present_error;
};

// The window's font: Tahoma at 8 points. Where the system has no Tahoma, the
// Tahoma-compatible file of the wine fonts is loaded into the application;
// where that is missing too, a sans-serif font at 8 points. Needs a
// QGuiApplication.
QFont WindowFont();
