// The desktop's dialogs in Qt: the modal message box, the error box and the
// file choosers, and the handler that sends the platform's messages to the box.
#pragma once

#include <QFileDialog>
#include <QString>

class QWidget;

// Caption of every box the program shows.
inline constexpr const char *box_caption = "Korvanel";

// A modal message with an OK button; returns once it has been acknowledged.
void ShowMessageBox(QWidget *parent, const QString &text);

// The error box that reports an error which ended an operation (OK button).
void ShowErrorBox(QWidget *parent, const QString &text);

// A modal question with the two answers `yes` and `no` (the texts of its
// buttons); true for `yes`. Closing the box answers `no`.
bool AskQuestion(QWidget *parent, const QString &text, const QString &yes,
                 const QString &no);

// Routes the platform's ShowMessage (platform/Dialogs.h) to ShowMessageBox over
// the active window. Call once, after the QApplication exists.
void InstallMessageBoxHandler();

// What a file chooser asks: its title, one filter in Qt's "Text (patterns)"
// form, the extension added to a typed name without one, and whether it names a
// file to write (which need not exist yet) or one to read (which must exist).
struct TFileChooserSpec {
    QString title;
    QString filter;
    QString default_suffix;
    bool for_writing = false;
};

// A file chooser that opens in the process's current directory and accepts only
// a path whose folder exists; a reading chooser accepts only an existing file.
// Choosing never changes the current directory, and an existing result file is
// replaced without asking, as the run replaces it anyway.
class TFileChooser : public QFileDialog {
  public:
    TFileChooser(const TFileChooserSpec &spec, QWidget *parent);

    // The path accepted last; empty before the user accepted one.
    QString ChosenPath() const { return chosen; }

    // Takes the typed or selected path, as the chooser's open button does.
    void accept() override;

  private:
    bool for_writing;
    QString chosen;
};

// Runs the chooser modally; returns the chosen path, or an empty text on
// cancel.
QString RunFileChooser(const TFileChooserSpec &spec, QWidget *parent);
