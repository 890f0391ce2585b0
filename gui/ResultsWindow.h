// The results window a Calc run opens, and the review workspace: the figures
// of the summary, the map of the stations (zoom, pan, tooltips, the
// decisions marked), the histogram of r2, the suspects and all stations in
// tabs, the decisions on the station in hand (keep, reject, fix, a note)
// with undo and redo, kept in the review file beside the result; and the
// buttons that recalculate with the decisions, save the cleaned survey, save
// the picture and the report and open the companion table.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <QString>
#include <QWidget>

#include "app/RunQc.h"
#include "gui/ReviewBook.h"
#include "gui/StationTable.h"
#include "platform/qt/QtDialogs.h"
#include "plot/FigureModel.h"
#include "plot/Report.h"
#include "review/ReviewedInput.h"

class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QSplitter;
class QTabWidget;
class QTableView;
class QTableWidget;
class QUndoStack;
class QUrl;
class TMapWidget;
class TStationTableModel;

// What the window shows of a run; it owns the records.
struct RunResults {
    FigureHeader header;
    RunFigures figures; // the run's, as its outcome counted them
    QcFindings findings;
    // How the stations were read (the columns and the coordinate system
    // taken, rows passed over); shown under the figures.
    std::vector<std::string> notes;
    // The run read its stations with the review's decisions (a
    // Recalculate), and what they did; the stations it left out are at the
    // end of findings.stations, as skipped.
    bool reviewed = false;
    ReviewTally tally;
    // What the report adds: the survey file as it was when the run ended,
    // the suspect rule's options and the duplicate distance the run took,
    // the DEM's tolerance (metres), the options of the surveys' offsets,
    // what the run noted of the survey, and the files a report must not
    // replace (the station file and the run's outputs).
    ReportSource source;
    SuspectOptions suspect_rule;
    double duplicate_distance = 1.0;
    double dem_tolerance = DiagnosisOptions{}.dem_tolerance;
    SurveyOffsetOptions survey_options;
    std::vector<std::string> run_notes;
    std::vector<std::string> run_files;
};

// What saving the cleaned survey did: written or not, and the text that
// says so (where it went, or why not).
struct CleanSaveOutcome {
    bool written = false;
    QString message;
};

// Title of the window; the station file's name follows it.
inline constexpr const char *results_caption = "Korvanel results";

class TResultsWindow : public QWidget {
    Q_OBJECT

  public:
    // `review_path`: the review file beside the result, read now when it
    // exists and written after every decision (empty: none is kept).
    explicit TResultsWindow(std::unique_ptr<RunResults> results,
                            const std::string &review_path = {},
                            QWidget *parent = nullptr);
    ~TResultsWindow() override;

    // Shows the run that Recalculate made in place of the one shown, with
    // the decisions kept, and marks the suspects that cleared or are new.
    void ShowRun(std::unique_ptr<RunResults> results);
    // During a Recalculate the decisions wait and Recalculate becomes Stop.
    void SetRecalculating(bool running);
    // The progress of a Recalculate, under the counts.
    void SetProgressText(const QString &text);

    // The station chosen in a table or on the map; -1 for none.
    int64_t SelectedStation() const;
    // Chooses station k: highlights and centres it on the map, selects its
    // row in both tables (the suspects' only if it is there).
    void SelectStation(int64_t k);
    const TFigureModel &Model() const { return *model; }
    const RunResults &Results() const { return *results; }
    const TReviewBook &Review() const { return book; }
    const std::string &ReviewPath() const { return review_path; }
    // The counts of the review: "N suspects: D decided, O open".
    QString CountsLine() const;
    // Puts `decision` on `subject` (none: undecided) without the undo
    // stack, writes the review file and shows it; the undo stack's commands
    // call it.
    void PutDecision(const ReviewRow &subject,
                     const std::optional<ReviewRow> &decision);

    // Controls; owned by the window through Qt's parent chain. The map and
    // the histogram are made again for each run shown.
    QLabel *lbl_summary;
    TMapWidget *map;
    QWidget *histogram;
    QTabWidget *tabs;
    QTableView *suspects_table;
    QTableView *stations_table;
    // The surveys of a run whose stations were grouped, flagged first, with
    // their decision; Level removes a survey's offset, Keep keeps it.
    QWidget *surveys_page;
    QTableWidget *surveys_table;
    QPushButton *btn_level, *btn_keep_survey;
    QLabel *lbl_counts;  // "N suspects: D decided, O open"
    QLabel *lbl_changes; // what the last Recalculate changed
    QLabel *lbl_station; // the station in hand, its cause and fix
    QPushButton *btn_keep, *btn_reject, *btn_fix, *btn_undecide;
    QLineEdit *txt_fix_value; // the value a fix uses, mGal
    QLineEdit *txt_fix_h;     // the height a fix uses, metres
    QLineEdit *txt_note;
    QPlainTextEdit *txt_review_notes; // the review file's problems and
                                      // stale rows; hidden when none
    QPushButton *btn_recalc;
    QPushButton *btn_save_clean;
    QPushButton *btn_save;
    QPushButton *btn_report;
    QPushButton *btn_open_table;
    QUndoStack *undo_stack;

    // What chooses a path, shows an error and opens the table; they
    // default to Qt's chooser, the error box and the desktop's application
    // for the file. Tests replace them so nothing blocks.
    std::function<QString(const TFileChooserSpec &)> choose_file;
    std::function<void(const QString &)> present_error;
    std::function<bool(const QUrl &)> open_url;
    // What runs the survey again with the decisions (`rows`), and what
    // stops that run; set by the main window (none: Recalculate disabled).
    std::function<void(const std::vector<ReviewRow> &rows)> recalculate;
    std::function<void()> stop;
    // What writes the cleaned survey at a path; set by the main window
    // (none: Save cleaned survey disabled).
    std::function<CleanSaveOutcome(const QString &path,
                                   const std::vector<ReviewRow> &rows)>
        save_cleaned;

    static TFileChooserSpec PictureChooser();
    static TFileChooserSpec CleanChooser();
    static TFileChooserSpec ReportChooser();

    // Handlers, named after their controls.
    void btn_saveClick();       // asks for a path and writes the figure there
    void btn_reportClick();     // asks for a path and writes the report there
    void btn_open_tableClick(); // opens the companion table
    void btn_levelClick();      // the chosen survey's offset is removed
    void btn_keep_surveyClick(); // the chosen survey is kept as it is
    void btn_keepClick();       // the station in hand is kept as it is
    void btn_rejectClick();     // the station in hand is left out
    void btn_fixClick();        // the station in hand takes the fix's fields
    void btn_undecideClick();   // the station in hand has no decision
    void txt_noteReturn();      // the note goes with the decision in hand
    void btn_recalcClick();     // Recalculate, or Stop during one
    void btn_save_cleanClick(); // asks for a path, writes the survey there

  protected:
    // A narrow window puts the histogram and tables below the map.
    void resizeEvent(QResizeEvent *event) override;
    // The review's keys in the lists and on the map: K keep, R reject, F
    // fix, U or Delete undecided, N the note, Ctrl+Z undo, Ctrl+Shift+Z
    // redo.
    bool eventFilter(QObject *watched, QEvent *event) override;

  private:
    // Station chosen by the user in one place; the others follow.
    void StationChosen(int64_t k, bool centre);
    void RowChosen(QTableView *table, int row);
    // Makes the map, the histogram and the tables of the run in `results`.
    void BuildRun();
    void ShowSummary();
    void ShowStationInHand();
    void ShowReviewNotes();
    void UpdateCounts();
    // Fills the surveys' tab from the run shown and the decisions.
    void ShowSurveys();
    // Puts a decision (none: undecided) on the survey chosen in its tab.
    void DecideSurvey(std::optional<Decision> decision);
    // Takes a decision on the station in hand through the undo stack.
    void Decide(std::optional<Decision> decision);
    // Writes the review file; a failure is said once until one succeeds.
    void WriteReview();

    std::unique_ptr<RunResults> results;
    std::unique_ptr<TFigureModel> model;
    TStationTableModel *suspects_model = nullptr;
    TStationTableModel *stations_model = nullptr;
    QSplitter *split; // the map beside (or above) the rest
    QSplitter *right; // the histogram above the tabs and the decisions
    QLabel *lbl_progress;
    bool following = false; // a choice is being passed on to the others
    bool recalculating = false;

    TReviewBook book;
    std::string review_path;
    std::vector<std::string> review_problems; // as read, "PATH:LINE: ..."
    bool backup_due = false;   // the file read had rows that were refused
    std::string backup_path;   // where the file as read was kept
    bool write_failed = false; // the last write failed (and was said)
    std::vector<StationChange> changes; // by station, since the run before
};
