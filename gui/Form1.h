// The main window TForm1: the run's parameters, the two file choosers, progress
// and the Calc, Stop and Exit buttons. It drives the same Calc run as the batch
// tool, on the window's own thread, and opens the results window after it.
#pragma once

#include <functional>
#include <memory>
#include <utility>
#include <vector>

#include <QSize>
#include <QString>
#include <QStringList>
#include <QWidget>

#include "app/CalcRun.h"
#include "app/Jobs.h"
#include "app/SurveySource.h"
#include "gui/ColumnDialog.h"
#include "platform/OutputSet.h"
#include "platform/qt/QtDialogs.h"

class QCloseEvent;
class QEvent;
class QComboBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class TResultsWindow;

class TForm1 : public QWidget, public TCalcHost {
    Q_OBJECT

  public:
    // A fixed window of 650 x 293 pixels of client area, centred on the screen,
    // idle, with every field at its default.
    explicit TForm1(QWidget *parent = nullptr);
    ~TForm1() override;

    // Controls; owned by the window through Qt's parent chain.
    QLineEdit *txt_data;   // station file
    QPushButton *btn_data; // input chooser
    QLineEdit *txt_a;      // starting half-size of the search square, metres
    QLineEdit *txt_incr;   // growth step of the half-size, metres
    QLineEdit *txt_n;      // minimum number of stations N in the square
    QLineEdit *txt_cell;   // grid cell size, metres
    QComboBox
        *cb_gridding;     // gridding method; disabled, kriging is the only one
    QLineEdit *txt_out;   // result file
    QPushButton *btn_out; // output chooser
    QProgressBar *ProgressBar1; // second pass, one step per ten stations
    QPushButton *btn_stop;
    QPushButton *btn_calc;
    QPushButton *btn_exit;
    // Labels, top to bottom.
    QLabel *lbl_data, *lbl_a, *lbl_incr, *lbl_n, *lbl_cell, *lbl_gridding,
        *lbl_out;

    // Set by Stop (and by closing the window during a run); cleared when a run
    // starts.
    bool stop_requested = false;
    // Jobs of a run: the batch tool's default (see app/Jobs.h).
    int32_t jobs = DefaultJobs();
    // How the last run ended, and its figures (see TCalcRun).
    CalcResult last_result = CalcResult::Completed;
    int32_t last_loaded = 0;
    int32_t last_done = 0;
    // The results of the last Calc that completed or was stopped with
    // stations estimated, in a window of its own beside this one; the next
    // such run replaces it. Null before the first.
    std::unique_ptr<TResultsWindow> results_window;

    // What shows messages, errors and file choosers. They default to modal
    // boxes and Qt's chooser; tests replace them so nothing blocks. A chooser
    // returns the chosen path, or an empty text when the user cancelled.
    std::function<void(const QString &)> present_message;
    std::function<void(const QString &)> present_error;
    std::function<QString(const TFileChooserSpec &)> choose_file;
    // Asks which column is which (the column dialog); false when cancelled.
    std::function<bool(ColumnRequest &)> choose_columns;
    // Asks a question with two answers (the texts of its buttons); true for
    // the first.
    std::function<bool(const QString &, const QString &, const QString &)> ask;

    // The columns and coordinate system chosen in the column dialog, kept
    // for the station file they were chosen for (`columns_for`).
    TableOptions table_options;
    std::string columns_for;

    // Takes `path` as the station file and proposes the result beside it, as
    // the input chooser does.
    void TakeStationFile(const QString &path);

    // The two choosers.
    static TFileChooserSpec DataChooser();
    static TFileChooserSpec OutputChooser();

    // Handlers, named after their controls.
    void btn_dataClick(); // input chooser; fills txt_data and proposes txt_out
    void btn_outClick();  // output chooser; fills txt_out
    void btn_calcClick(); // the Calc run; returns when it has ended
    void
    btn_stopClick(); // requests the end of the run after the station in hand
    void btn_exitClick(); // closes the window, which ends the program

    // TCalcHost: what the run asks of the window or tells it.
    void SetRunning(bool running) override;
    void SetProgressMax(int32_t maximum) override;
    void SetProgressPosition(int32_t position) override;
    int32_t ProgressPosition() override;
    void ProcessPendingEvents() override;
    void ClearStopRequest() override;
    bool StopRequested() override;
    void ShowMessage(const std::string &text) override;
    void ShowError(const std::string &text) override;
    void StationsLoaded(int64_t loaded) override;
    void StationDone(const StationOutcome &outcome) override;
    bool ConfirmReplace(const std::string &question) override;

  protected:
    // During a run, closing acts as Stop; the window closes once the run has
    // ended.
    void closeEvent(QCloseEvent *event) override;
    // A new font refits the labels to their texts.
    void changeEvent(QEvent *event) override;

  private:
    void CreateControls();
    void PlaceControls();
    void FitLabels();
    void CentreOnScreen();
    // Reads what must be read of the station file before the run (a table,
    // a pipe), asking for its columns where they cannot be told. False when
    // the user cancelled or the file was refused (the error shown).
    bool PrepareStations(SurveyInput &survey, SurveyPreparation &prepared);
    // Opens the results window of a run's outcome beside this one.
    void OpenResults(RunOutcome &outcome, const RunSettings &settings,
                     const std::vector<std::string> &notes);
    // Puts the outputs of a run in place of the earlier ones, or drops
    // them: a stopped run asks first when there is an earlier result.
    // Failures are said at the end of the run.
    void SettleOutputs(const RunOutcome &outcome, const RunOutputs &outputs);
    // The Data field changed: the Output field follows it while it holds
    // the path proposed for the earlier data, or nothing.
    void DataChanged(const QString &path);

    std::vector<std::pair<QLabel *, QSize>>
        label_sizes; // each label's measured size
    // Shows the texts the run left for its end in one box.
    void PresentRunMessages();

    bool in_run = false;
    bool close_after_run = false;
    QStringList run_messages;   // messages of the run in hand, shown at its end
    int64_t stations_total = 0; // stations the run in hand loaded
    int64_t stations_done = 0;  // of them, estimated so far
    // The result path last proposed for the Data field; the user's own text
    // in the Output field differs from it and is kept.
    QString proposed_out;
};

// The program's one main window; set by main while the window exists.
extern TForm1 *Form1;
