// Message box, error box and file choosers over Qt's widgets.
#include "platform/qt/QtDialogs.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>

#include "platform/Dialogs.h"

namespace {

constexpr const char *missing_folder_text =
    "%1\nPath does not exist. Check the path and try again.";

void ShowBox(QWidget *parent, QMessageBox::Icon icon, const QString &text) {
    QMessageBox box(icon, box_caption, text, QMessageBox::Ok, parent);
    box.exec();
}

} // namespace

void ShowMessageBox(QWidget *parent, const QString &text) {
    ShowBox(parent, QMessageBox::NoIcon, text);
}

void ShowErrorBox(QWidget *parent, const QString &text) {
    ShowBox(parent, QMessageBox::Critical, text);
}

bool AskQuestion(QWidget *parent, const QString &text, const QString &yes,
                 const QString &no) {
    QMessageBox box(QMessageBox::Question, box_caption, text,
                    QMessageBox::NoButton, parent);
    QPushButton *yes_button = box.addButton(yes, QMessageBox::YesRole);
    QPushButton *no_button = box.addButton(no, QMessageBox::NoRole);
    box.setDefaultButton(no_button);
    box.setEscapeButton(no_button);
    box.exec();
    return box.clickedButton() == yes_button;
}

void InstallMessageBoxHandler() {
    SetMessageHandler([](const std::string &text) {
        ShowMessageBox(QApplication::activeWindow(),
                       QString::fromStdString(text));
    });
}

TFileChooser::TFileChooser(const TFileChooserSpec &spec, QWidget *parent)
    : QFileDialog(parent, spec.title, QDir::currentPath()),
      for_writing(spec.for_writing) {
    // Qt's own chooser, so that accept() below decides what may be chosen.
    setOption(QFileDialog::DontUseNativeDialog);
    setNameFilter(spec.filter);
    setDefaultSuffix(spec.default_suffix);
    if (for_writing) {
        setAcceptMode(QFileDialog::AcceptSave);
        setFileMode(QFileDialog::AnyFile);
        setOption(QFileDialog::DontConfirmOverwrite);
    } else {
        setAcceptMode(QFileDialog::AcceptOpen);
        setFileMode(QFileDialog::ExistingFile);
    }
}

void TFileChooser::accept() {
    // Qt adds the default suffix even to an existing file without an extension,
    // which then could not be chosen: a reading chooser takes such a file as it
    // is.
    const QString suffix = defaultSuffix();
    setDefaultSuffix(QString());
    const QStringList typed = selectedFiles();
    const bool existing_as_typed =
        typed.size() == 1 && QFileInfo(typed.front()).isFile();
    if (for_writing || !existing_as_typed) {
        setDefaultSuffix(suffix);
    }
    const QStringList files = selectedFiles();
    if (for_writing && files.size() == 1) {
        const QFileInfo file(files.front());
        if (!file.isDir() && !file.absoluteDir().exists()) {
            ShowMessageBox(
                this, QString(missing_folder_text).arg(file.absolutePath()));
            setDefaultSuffix(suffix);
            return;
        }
    }
    chosen = files.isEmpty() ? QString() : files.front();
    QFileDialog::accept();
    setDefaultSuffix(suffix);
}

QString RunFileChooser(const TFileChooserSpec &spec, QWidget *parent) {
    TFileChooser chooser(spec, parent);
    if (chooser.exec() != QDialog::Accepted) {
        return {};
    }
    return chooser.ChosenPath();
}
