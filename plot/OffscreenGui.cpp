// Qt's offscreen platform for programs that only draw.
#include "plot/OffscreenGui.h"

#include <clocale>

#include <QCoreApplication>
#include <QGuiApplication>
#include <QString>

namespace {

// Qt's remark that it found no runtime folder: true on any machine without a
// desktop session, and nothing a user of the batch tool can act on.
constexpr const char *no_runtime_folder =
    "QStandardPaths: XDG_RUNTIME_DIR not set";

QtMessageHandler passed_on = nullptr;

void WithoutSessionRemarks(QtMsgType type, const QMessageLogContext &context,
                           const QString &text) {
    if (type == QtWarningMsg && text.startsWith(no_runtime_folder)) {
        return;
    }
    if (passed_on != nullptr) {
        passed_on(type, context, text);
    }
}

} // namespace

TOffscreenGui::TOffscreenGui() {
    if (QCoreApplication::instance() != nullptr) {
        return;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    passed_on = qInstallMessageHandler(WithoutSessionRemarks);
    application = std::make_unique<QGuiApplication>(argc, argv);
    std::setlocale(LC_NUMERIC, "C");
}

TOffscreenGui::~TOffscreenGui() = default;
