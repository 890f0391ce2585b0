// The Qt application object of the window program and the window's font.
#pragma once

#include <QApplication>
#include <QFont>

// QApplication whose event loop shows an error that escapes a handler in the
// error box instead of letting it unwind through Qt; the loop then goes on.
class TApplication : public QApplication {
  public:
    TApplication(int &argc, char **argv);

    bool notify(QObject *receiver, QEvent *event) override;
};

// The window's font: Tahoma at 8 points. Where the system has no Tahoma, the
// Tahoma-compatible file of the wine fonts is loaded into the application; where
// that is missing too, a sans-serif font at 8 points. Needs a QGuiApplication.
QFont WindowFont();
