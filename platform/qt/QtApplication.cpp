// The window program's application object and font.
#include "platform/qt/QtApplication.h"

#include <exception>

#include <QFileInfo>
#include <QFontDatabase>

#include "platform/qt/QtDialogs.h"

namespace {

constexpr const char *window_family = "Tahoma";
constexpr const char *fallback_family = "sans-serif";
constexpr int window_point_size = 8;
// Debian's fonts-wine ships a Tahoma-compatible font here.
constexpr const char *tahoma_files[] = {"/usr/share/wine/fonts/tahoma.ttf"};

bool HasFamily(const QString &family) {
    return QFontDatabase::families().contains(family, Qt::CaseInsensitive);
}

} // namespace

TApplication::TApplication(int &argc, char **argv)
    : QApplication(argc, argv), present_error([](const QString &text) {
          ShowErrorBox(activeWindow(), text);
      }) {}

bool TApplication::notify(QObject *receiver, QEvent *event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception &error) {
        present_error(QString::fromStdString(error.what()));
    } catch (...) {
        present_error(unknown_error_text);
    }
    return false;
}

QFont WindowFont() {
    if (!HasFamily(window_family)) {
        for (const char *file : tahoma_files) {
            if (QFileInfo::exists(file) &&
                QFontDatabase::addApplicationFont(file) >= 0) {
                break;
            }
        }
    }
    QFont font(window_family, window_point_size);
    if (!HasFamily(window_family)) {
        font = QFont(fallback_family, window_point_size);
        font.setStyleHint(QFont::SansSerif);
    }
    return font;
}
