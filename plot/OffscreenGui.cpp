// Qt's offscreen platform for programs that only draw.
#include "plot/OffscreenGui.h"

#include <clocale>

#include <QCoreApplication>
#include <QGuiApplication>

TOffscreenGui::TOffscreenGui() {
    if (QCoreApplication::instance() != nullptr) {
        return;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    application = std::make_unique<QGuiApplication>(argc, argv);
    std::setlocale(LC_NUMERIC, "C");
}

TOffscreenGui::~TOffscreenGui() = default;
