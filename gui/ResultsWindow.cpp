// The results window: its parts side by side, a chosen station passed
// between the map and the tables, and the review of the suspects with its
// undo stack and its file.
#include "gui/ResultsWindow.h"

#include <cmath>
#include <filesystem>
#include <numeric>
#include <unordered_map>

#include <QDateTime>
#include <QDesktopServices>
#include <QFormLayout>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QLabel>
#include <QTableWidget>
#include <QLineEdit>
#include <QLocale>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QResizeEvent>
#include <QSplitter>
#include <QTabWidget>
#include <QTableView>
#include <QUndoCommand>
#include <QUndoStack>
#include <QUrl>
#include <QVBoxLayout>

#include "gui/MapWidget.h"
#include "platform/FileError.h"
#include "platform/Locale.h"
#include "platform/OutputSet.h"
#include "plot/Figure.h"
#include "plot/FigureFile.h"
#include "plot/NumberText.h"

namespace {

constexpr const char *save_text = "Save picture\u2026";
constexpr const char *open_table_text = "Open table";
constexpr const char *recalc_text = "Recalculate";
constexpr const char *stop_recalc_text = "Stop";
constexpr const char *save_clean_text = "Save cleaned survey\u2026";
constexpr const char *picture_chooser_title = "Save picture";
constexpr const char *picture_chooser_filter = "Pictures (*.png *.svg)";
constexpr const char *picture_extension = "png";
constexpr const char *clean_chooser_title = "Save cleaned survey";
constexpr const char *clean_chooser_filter =
    "Station file (*.dat *.txt);;CSV table (*.csv);;GeoPackage (*.gpkg)";
constexpr const char *clean_extension = "dat";
constexpr const char *report_text = "Save report\u2026";
constexpr const char *report_chooser_title = "Save report";
constexpr const char *report_chooser_filter = "PDF documents (*.pdf)";
constexpr const char *report_extension = "pdf";
constexpr const char *window_program = "korvanel";
constexpr const char *hint_text =
    "Wheel: zoom \u00b7 drag: pan \u00b7 click a station or a row to find it "
    "\u00b7 \u2191\u2193 the next suspect \u00b7 on the map: "
    "<span style='color:#c81414'><b>\u00d7</b> rejected</span>, "
    "<span style='color:#00823c'><b>\u25c7</b> fixed</span>, "
    "<span style='color:#1446c8'><b>\u2713</b> kept</span>";
constexpr const char *no_station_text =
    "Choose a station in the list or on the map to decide on it.";
constexpr const char *fix_needs_number_text =
    "A fix needs a value or a height: type one, or keep or reject %1.";
constexpr const char *not_a_number_text = "%1 is not a number: %2";
constexpr const char *note_needs_decision_text =
    "A note goes with a decision: keep, reject or fix %1 first.";
constexpr int initial_width = 1280;
constexpr int initial_height = 820;
constexpr int histogram_height = 160;
constexpr double histogram_text = 12.0;
constexpr int table_row_height = 20;
constexpr int review_notes_height = 64;
// Names listed in the line of what changed, before "and N more".
constexpr size_t changed_names_shown = 8;
// Narrower than this, the map goes above the histogram and tables.
constexpr int side_by_side_width = 1000;

// The histogram of the figure, drawn by the figure's own function.
class THistogramWidget : public QWidget {
  public:
    THistogramWidget(const TFigureModel &model_, QWidget *parent)
        : QWidget(parent), model(model_) {
        setMinimumHeight(histogram_height);
    }

  protected:
    void paintEvent(QPaintEvent *) override {
        QPainter painter(this);
        painter.fillRect(rect(), Qt::white);
        DrawHistogram(painter, QRectF(rect()).adjusted(8, 6, -8, -4), model,
                      histogram_text);
    }

  private:
    const TFigureModel &model;
};

// One decision taken, or undone: the subject's decision before and after.
class TDecisionCommand : public QUndoCommand {
  public:
    TDecisionCommand(TResultsWindow &window_, ReviewRow subject_,
                     std::optional<ReviewRow> before_,
                     std::optional<ReviewRow> after_)
        : window(window_), subject(std::move(subject_)),
          before(std::move(before_)), after(std::move(after_)) {
        setText(QString("%1 %2").arg(
            after ? QString(DecisionName(after->decision)) : "undecide",
            QString::fromStdString(subject.id)));
    }
    void undo() override { window.PutDecision(subject, before); }
    void redo() override { window.PutDecision(subject, after); }

  private:
    TResultsWindow &window;
    ReviewRow subject;
    std::optional<ReviewRow> before, after;
};

QTableView *MakeTable(QWidget *parent) {
    auto *table = new QTableView(parent);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->setSelectionMode(QAbstractItemView::SingleSelection);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->verticalHeader()->setVisible(false);
    // Rows of one height: a million of them stay quick to scroll.
    table->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    table->verticalHeader()->setDefaultSectionSize(table_row_height);
    table->horizontalHeader()->setStretchLastSection(true);
    table->setAlternatingRowColors(true);
    return table;
}

// A number in the user's decimal format, for a field the user may edit.
QString FieldNumber(double value, int decimals) {
    if (!std::isfinite(value)) {
        return QString();
    }
    QString text = QString::number(value, 'f', decimals);
    text.replace('.', QChar(DecimalSeparator()));
    return text;
}

// A station's name and position, for finding it in another run.
struct StationKey {
    std::string name;
    double x, y;
};

// The stations of `keys` met again in `stations`: for each station, the
// key it matched (within the review's centimetre), or -1.
std::vector<int64_t> MatchKeys(const std::vector<StationKey> &keys,
                               const TQcStations &stations) {
    std::unordered_multimap<std::string_view, size_t> by_name;
    for (size_t j = 0; j < keys.size(); ++j) {
        by_name.emplace(keys[j].name, j);
    }
    std::vector<int64_t> found(stations.Size(), -1);
    for (size_t k = 0; k < stations.Size() && !by_name.empty(); ++k) {
        const auto [first, last] = by_name.equal_range(stations.Name(k));
        for (auto at = first; at != last; ++at) {
            const StationKey &key = keys[at->second];
            if (std::hypot(key.x - stations[k].x, key.y - stations[k].y) <=
                review_position_tolerance) {
                found[k] = static_cast<int64_t>(at->second);
                break;
            }
        }
    }
    return found;
}

QString NamesLine(const QStringList &names) {
    QStringList shown =
        names.mid(0, static_cast<qsizetype>(changed_names_shown));
    QString text = shown.join(", ");
    if (names.size() > shown.size()) {
        text += QString(" and %1 more").arg(names.size() - shown.size());
    }
    return text;
}

} // namespace

TResultsWindow::TResultsWindow(std::unique_ptr<RunResults> results_,
                               const std::string &review_path_, QWidget *parent)
    : QWidget(parent, Qt::Window), results(std::move(results_)),
      review_path(review_path_) {
    setWindowTitle(
        QString("%1 \u2014 %2")
            .arg(results_caption,
                 QString::fromStdString(results->header.station_file)));
    choose_file = [this](const TFileChooserSpec &spec) {
        return RunFileChooser(spec, this);
    };
    present_error = [this](const QString &text) { ShowErrorBox(this, text); };
    open_url = [](const QUrl &url) { return QDesktopServices::openUrl(url); };

    // The review file of an earlier look at this survey: its good rows are
    // taken, the others named with their lines.
    std::error_code ignored;
    if (!review_path.empty() && std::filesystem::exists(review_path, ignored)) {
        ReviewFile file = ReadReviewFile(review_path);
        review_problems = DescribeProblems(review_path, file.problems);
        backup_due = !file.problems.empty();
        book = TReviewBook(std::move(file.rows));
    }

    lbl_summary = new QLabel(this);
    lbl_summary->setTextFormat(Qt::RichText);
    lbl_summary->setWordWrap(true);
    map = nullptr;
    histogram = nullptr;

    tabs = new QTabWidget(this);
    suspects_table = MakeTable(tabs);
    stations_table = MakeTable(tabs);
    tabs->addTab(suspects_table, QString());
    tabs->addTab(stations_table, QString());
    surveys_page = new QWidget(tabs);
    surveys_table = new QTableWidget(surveys_page);
    surveys_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    surveys_table->setSelectionMode(QAbstractItemView::SingleSelection);
    surveys_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    surveys_table->verticalHeader()->setVisible(false);
    surveys_table->horizontalHeader()->setStretchLastSection(true);
    btn_level = new QPushButton("Level survey", surveys_page);
    btn_level->setToolTip("Removes the survey's offset from its stations at "
                          "the next Recalculate");
    btn_keep_survey = new QPushButton("Keep survey", surveys_page);
    btn_keep_survey->setToolTip("The survey's offset is real: it stays");
    auto *btn_undecide_survey = new QPushButton("Undecided", surveys_page);
    {
        auto *survey_buttons = new QHBoxLayout;
        survey_buttons->addWidget(btn_level);
        survey_buttons->addWidget(btn_keep_survey);
        survey_buttons->addWidget(btn_undecide_survey);
        survey_buttons->addStretch(1);
        auto *survey_layout = new QVBoxLayout(surveys_page);
        survey_layout->setContentsMargins(0, 0, 0, 0);
        survey_layout->addWidget(surveys_table, 1);
        survey_layout->addLayout(survey_buttons);
    }
    connect(btn_level, &QPushButton::clicked, this,
            &TResultsWindow::btn_levelClick);
    connect(btn_keep_survey, &QPushButton::clicked, this,
            &TResultsWindow::btn_keep_surveyClick);
    connect(btn_undecide_survey, &QPushButton::clicked, this,
            [this] { DecideSurvey(std::nullopt); });

    // The review of the station in hand.
    auto *review = new QWidget(this);
    lbl_counts = new QLabel(review);
    lbl_counts->setTextFormat(Qt::RichText);
    lbl_progress = new QLabel(review);
    lbl_changes = new QLabel(review);
    lbl_changes->setWordWrap(true);
    lbl_changes->setTextFormat(Qt::RichText);
    lbl_changes->hide();
    lbl_station = new QLabel(no_station_text, review);
    lbl_station->setWordWrap(true);
    btn_keep = new QPushButton("Keep (K)", review);
    btn_reject = new QPushButton("Reject (R)", review);
    btn_fix = new QPushButton("Fix (F)", review);
    btn_undecide = new QPushButton("Undecided (U)", review);
    btn_keep->setToolTip("A real anomaly: the station stays as it is");
    btn_reject->setToolTip("Left out of the survey");
    btn_fix->setToolTip("Takes the value and height in the fields beside "
                        "(the proposed fix, or your own)");
    for (QPushButton *button : {btn_keep, btn_reject, btn_fix, btn_undecide}) {
        button->setFocusPolicy(Qt::NoFocus); // the list keeps the keys
    }
    txt_fix_value = new QLineEdit(review);
    txt_fix_h = new QLineEdit(review);
    txt_note = new QLineEdit(review);
    txt_fix_value->setPlaceholderText("value, mGal");
    txt_fix_h->setPlaceholderText("height, m");
    txt_note->setPlaceholderText("note (N), Enter to keep it");
    undo_stack = new QUndoStack(this);
    auto *btn_undo = new QPushButton("Undo (Ctrl+Z)", review);
    auto *btn_redo = new QPushButton("Redo (Ctrl+Shift+Z)", review);
    for (QPushButton *button : {btn_undo, btn_redo}) {
        button->setFocusPolicy(Qt::NoFocus);
        button->setEnabled(false);
    }
    connect(btn_undo, &QPushButton::clicked, undo_stack, &QUndoStack::undo);
    connect(btn_redo, &QPushButton::clicked, undo_stack, &QUndoStack::redo);
    connect(undo_stack, &QUndoStack::canUndoChanged, btn_undo,
            &QPushButton::setEnabled);
    connect(undo_stack, &QUndoStack::canRedoChanged, btn_redo,
            &QPushButton::setEnabled);
    connect(undo_stack, &QUndoStack::undoTextChanged, btn_undo,
            [btn_undo](const QString &text) {
                btn_undo->setToolTip("Undo " + text);
            });
    connect(undo_stack, &QUndoStack::redoTextChanged, btn_redo,
            [btn_redo](const QString &text) {
                btn_redo->setToolTip("Redo " + text);
            });
    txt_review_notes = new QPlainTextEdit(review);
    txt_review_notes->setReadOnly(true);
    txt_review_notes->setMaximumHeight(review_notes_height);
    txt_review_notes->hide();

    auto *counts_line = new QHBoxLayout;
    counts_line->addWidget(lbl_counts);
    counts_line->addStretch(1);
    counts_line->addWidget(lbl_progress);
    auto *decide_line = new QHBoxLayout;
    for (QPushButton *button : {btn_keep, btn_reject, btn_fix}) {
        decide_line->addWidget(button);
    }
    decide_line->addWidget(new QLabel("value", review));
    decide_line->addWidget(txt_fix_value, 1);
    decide_line->addWidget(new QLabel("h", review));
    decide_line->addWidget(txt_fix_h, 1);
    auto *note_line = new QHBoxLayout;
    note_line->addWidget(btn_undecide);
    note_line->addWidget(txt_note, 1);
    note_line->addWidget(btn_undo);
    note_line->addWidget(btn_redo);
    auto *review_layout = new QVBoxLayout(review);
    review_layout->setContentsMargins(0, 2, 0, 0);
    review_layout->setSpacing(3);
    review_layout->addLayout(counts_line);
    review_layout->addWidget(lbl_changes);
    review_layout->addWidget(lbl_station);
    review_layout->addLayout(decide_line);
    review_layout->addLayout(note_line);
    review_layout->addWidget(txt_review_notes);

    btn_recalc = new QPushButton(recalc_text, this);
    btn_recalc->setShortcut(Qt::Key_F5);
    btn_recalc->setToolTip("Runs the survey again with the decisions (F5)");
    btn_save_clean = new QPushButton(save_clean_text, this);
    btn_save = new QPushButton(save_text, this);
    btn_report = new QPushButton(report_text, this);
    btn_open_table = new QPushButton(open_table_text, this);

    // The tabs and the decisions below the histogram; the tabs take what
    // room is left.
    auto *lists = new QWidget(this);
    auto *lists_layout = new QVBoxLayout(lists);
    lists_layout->setContentsMargins(0, 0, 0, 0);
    lists_layout->setSpacing(2);
    lists_layout->addWidget(tabs, 1);
    lists_layout->addWidget(review);
    right = new QSplitter(Qt::Vertical, this);
    split = new QSplitter(Qt::Horizontal, this);
    BuildRun();
    ShowSurveys();
    right->addWidget(lists);
    right->setStretchFactor(0, 0);
    right->setStretchFactor(1, 1);
    split->addWidget(right);
    split->setStretchFactor(0, 3);
    split->setStretchFactor(1, 2);

    auto *buttons = new QHBoxLayout;
    auto *hint = new QLabel(hint_text, this);
    hint->setTextFormat(Qt::RichText);
    buttons->addWidget(hint, 1);
    buttons->addWidget(btn_recalc);
    buttons->addWidget(btn_save_clean);
    buttons->addWidget(btn_save);
    buttons->addWidget(btn_report);
    buttons->addWidget(btn_open_table);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(lbl_summary);
    layout->addWidget(split, 1);
    layout->addLayout(buttons);
    resize(initial_width, initial_height);

    connect(btn_save, &QPushButton::clicked, this,
            &TResultsWindow::btn_saveClick);
    connect(btn_report, &QPushButton::clicked, this,
            &TResultsWindow::btn_reportClick);
    connect(btn_open_table, &QPushButton::clicked, this,
            &TResultsWindow::btn_open_tableClick);
    connect(btn_keep, &QPushButton::clicked, this,
            &TResultsWindow::btn_keepClick);
    connect(btn_reject, &QPushButton::clicked, this,
            &TResultsWindow::btn_rejectClick);
    connect(btn_fix, &QPushButton::clicked, this,
            &TResultsWindow::btn_fixClick);
    connect(btn_undecide, &QPushButton::clicked, this,
            &TResultsWindow::btn_undecideClick);
    connect(txt_note, &QLineEdit::returnPressed, this,
            &TResultsWindow::txt_noteReturn);
    connect(txt_fix_value, &QLineEdit::returnPressed, this,
            &TResultsWindow::btn_fixClick);
    connect(txt_fix_h, &QLineEdit::returnPressed, this,
            &TResultsWindow::btn_fixClick);
    connect(btn_recalc, &QPushButton::clicked, this,
            &TResultsWindow::btn_recalcClick);
    connect(btn_save_clean, &QPushButton::clicked, this,
            &TResultsWindow::btn_save_cleanClick);
    for (QTableView *table : {suspects_table, stations_table}) {
        table->installEventFilter(this);
        connect(table, &QTableView::clicked, this,
                [this, table](const QModelIndex &index) {
                    RowChosen(table, index.row());
                });
    }
    if (!book.Rows().empty()) {
        lbl_changes->setText(
            QString("The review file %1 holds %2 decisions, shown here; "
                    "Recalculate runs the survey with them.")
                .arg(QString::fromStdString(review_path).toHtmlEscaped())
                .arg(book.Rows().size()));
        lbl_changes->show();
    }
    // The map has the focus when the window first becomes active, so that
    // no table chooses its first row by itself.
    map->setFocus();
}

TResultsWindow::~TResultsWindow() = default;

void TResultsWindow::BuildRun() {
    const QcFindings &findings = results->findings;
    auto new_model = std::make_unique<TFigureModel>(
        results->header, results->figures, findings.stations, findings.suspects,
        findings.duplicates);
    new_model->SetDiagnosis(&findings.diagnosis);
    new_model->SetSurveys(findings.grouping, findings.offsets);
    book.SetSurveys(findings.grouping.names);
    book.Match(findings.stations);
    if (changes.size() != findings.stations.Size()) {
        changes.assign(findings.stations.Size(), StationChange::None);
    }

    // The suspects' list: the suspects, the stations decided on, and those
    // the last Recalculate cleared or left out.
    std::vector<size_t> listed = findings.suspects.suspects;
    std::vector<bool> in_list(findings.stations.Size(), false);
    for (const size_t k : listed) {
        in_list[k] = true;
    }
    for (size_t r = 0; r < book.Rows().size(); ++r) {
        const int64_t k = book.StationOfRow(r);
        if (k >= 0 && !in_list[static_cast<size_t>(k)]) {
            in_list[static_cast<size_t>(k)] = true;
            listed.push_back(static_cast<size_t>(k));
        }
    }
    for (size_t k = 0; k < changes.size(); ++k) {
        if (changes[k] != StationChange::None && !in_list[k]) {
            in_list[k] = true;
            listed.push_back(k);
        }
    }
    std::vector<size_t> all(findings.stations.Size());
    std::iota(all.begin(), all.end(), size_t{0});
    auto *new_suspects = new TStationTableModel(
        findings.stations, std::move(listed), this, &findings.diagnosis);
    auto *new_stations = new TStationTableModel(
        findings.stations, std::move(all), this, &findings.diagnosis);
    new_suspects->SetReview(&book, &changes);
    new_stations->SetReview(&book, &changes);

    auto *new_map = new TMapWidget(*new_model, this);
    new_map->SetReview(&book);
    new_map->setFocusPolicy(Qt::StrongFocus);
    new_map->installEventFilter(this);
    auto *new_histogram = new THistogramWidget(*new_model, this);
    connect(new_map, &TMapWidget::StationChosen, this,
            [this](qint64 k) { StationChosen(k, false); });

    // The new parts take the old ones' places; the old are dropped before
    // the records they show.
    if (map == nullptr) {
        split->addWidget(new_map);
        right->addWidget(new_histogram);
    } else {
        delete split->replaceWidget(0, new_map);
        delete right->replaceWidget(0, new_histogram);
    }
    map = new_map;
    histogram = new_histogram;
    const struct {
        QTableView *table;
        TStationTableModel *model;
    } tables[] = {{suspects_table, new_suspects},
                  {stations_table, new_stations}};
    for (const auto &t : tables) {
        QItemSelectionModel *old_selection = t.table->selectionModel();
        QAbstractItemModel *old_model = t.table->model();
        const int sorted_by =
            old_model != nullptr
                ? t.table->horizontalHeader()->sortIndicatorSection()
                : int(TStationTableModel::AbsR2);
        const Qt::SortOrder order =
            old_model != nullptr
                ? t.table->horizontalHeader()->sortIndicatorOrder()
                : Qt::DescendingOrder;
        t.table->setModel(t.model);
        delete old_selection;
        delete old_model;
        t.table->setSortingEnabled(true);
        t.table->sortByColumn(sorted_by, order);
        QTableView *table = t.table;
        connect(table->selectionModel(),
                &QItemSelectionModel::currentRowChanged, this,
                [this, table](const QModelIndex &current) {
                    if (current.isValid()) {
                        RowChosen(table, current.row());
                    }
                });
    }
    suspects_model = new_suspects;
    stations_model = new_stations;
    // The suspects are few: their columns fit their texts.
    suspects_table->resizeColumnsToContents();
    model = std::move(new_model);
    tabs->setTabText(0,
                     QString("Suspects: %1").arg(suspects_model->rowCount()));
    tabs->setTabText(
        1, QString("All stations: %1").arg(stations_model->rowCount()));
    btn_open_table->setEnabled(!findings.table_path.empty());
    ShowSummary();
    ShowReviewNotes();
    UpdateCounts();
    ShowStationInHand();
}

void TResultsWindow::ShowSummary() {
    QString notes;
    for (const std::string &note : results->notes) {
        notes += "<br>" + QString::fromStdString(note).toHtmlEscaped();
    }
    if (results->reviewed) {
        const ReviewTally &tally = results->tally;
        notes += QString("<br>Recalculated with the review: stations "
                         "rejected %1, fixed %2, levelled %3.")
                     .arg(tally.rejected)
                     .arg(tally.fixed)
                     .arg(tally.levelled);
    }
    lbl_summary->setText(
        QString("<b style='font-size:large'>%1</b><br>%2<br><b>%3</b>"
                "<span style='color:#555'>%4</span>")
            .arg(TitleText(*model).toHtmlEscaped(),
                 ParametersText(*model).toHtmlEscaped(),
                 CountsText(*model).toHtmlEscaped(), notes));
}

void TResultsWindow::ShowRun(std::unique_ptr<RunResults> next) {
    const int64_t in_hand = SelectedStation();
    const std::optional<ReviewRow> held =
        in_hand >= 0 ? std::optional<ReviewRow>(
                           book.SubjectOf(static_cast<size_t>(in_hand)))
                     : std::nullopt;
    // The suspects of the run shown, to be met again in the next.
    const TQcStations &before = results->findings.stations;
    std::vector<StationKey> was_suspect;
    for (const size_t k : results->findings.suspects.suspects) {
        was_suspect.push_back(
            {std::string(before.Name(k)), before[k].x, before[k].y});
    }
    const TQcStations &after = next->findings.stations;
    const std::vector<int64_t> met = MatchKeys(was_suspect, after);
    changes.assign(after.Size(), StationChange::None);
    std::vector<bool> met_again(was_suspect.size(), false);
    QStringList cleared, fresh, left_out;
    for (size_t k = 0; k < after.Size(); ++k) {
        const QString name = QString::fromUtf8(after.Name(k));
        if (met[k] >= 0) {
            met_again[static_cast<size_t>(met[k])] = true;
        }
        if (after[k].suspect && met[k] < 0) {
            changes[k] = StationChange::New;
            fresh << name;
        } else if (!after[k].suspect && met[k] >= 0) {
            // A suspect that was rejected is at the end, skipped.
            const bool out =
                after[k].status == QcStatus::Skipped &&
                k >= after.Size() - static_cast<size_t>(next->tally.rejected);
            changes[k] = out ? StationChange::LeftOut : StationChange::Cleared;
            (out ? left_out : cleared) << name;
        }
    }
    QString line = QString("<b>Recalculated:</b> %1 cleared, %2 new, %3 left "
                           "out.")
                       .arg(cleared.size())
                       .arg(fresh.size())
                       .arg(left_out.size());
    if (!cleared.isEmpty()) {
        line += " Cleared: " + NamesLine(cleared).toHtmlEscaped() + ".";
    }
    if (!fresh.isEmpty()) {
        line += " <span style='color:#b00'>New: " +
                NamesLine(fresh).toHtmlEscaped() + ".</span>";
    }
    lbl_changes->setText(line);
    lbl_changes->show();

    // The old run's records live until the parts that show them are gone.
    std::unique_ptr<RunResults> old = std::move(results);
    std::unique_ptr<TFigureModel> old_model = std::move(model);
    results = std::move(next);
    BuildRun();
    ShowSurveys();
    old_model.reset();
    old.reset();
    if (held) {
        SelectStation(book.StationOf(*held));
    }
}

bool TResultsWindow::eventFilter(QObject *watched, QEvent *event) {
    // The review's keys, where the station in hand is chosen (the lists and
    // the map); the fields keep every key they type.
    if (event->type() != QEvent::KeyPress) {
        return QWidget::eventFilter(watched, event);
    }
    const auto *key = static_cast<QKeyEvent *>(event);
    const Qt::KeyboardModifiers modifiers =
        key->modifiers() & ~Qt::KeypadModifier;
    if (modifiers == Qt::NoModifier) {
        switch (key->key()) {
        case Qt::Key_K:
            btn_keepClick();
            return true;
        case Qt::Key_R:
            btn_rejectClick();
            return true;
        case Qt::Key_F:
            btn_fixClick();
            return true;
        case Qt::Key_U:
        case Qt::Key_Delete:
            btn_undecideClick();
            return true;
        case Qt::Key_N:
            txt_note->setFocus(Qt::ShortcutFocusReason);
            return true;
        default:
            break;
        }
    }
    const bool undo = key->matches(QKeySequence::Undo);
    const bool redo = key->matches(QKeySequence::Redo) ||
                      (key->key() == Qt::Key_Z &&
                       modifiers == (Qt::ControlModifier | Qt::ShiftModifier));
    if (redo) {
        undo_stack->redo();
        return true;
    }
    if (undo) {
        undo_stack->undo();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void TResultsWindow::resizeEvent(QResizeEvent *event) {
    const Qt::Orientation orientation =
        width() >= side_by_side_width ? Qt::Horizontal : Qt::Vertical;
    if (orientation != split->orientation()) {
        split->setOrientation(orientation);
        // The map takes the larger share either way.
        const int length =
            orientation == Qt::Horizontal ? split->width() : split->height();
        split->setSizes({length * 3 / 5, length * 2 / 5});
    }
    QWidget::resizeEvent(event);
}

TFileChooserSpec TResultsWindow::PictureChooser() {
    return {picture_chooser_title, picture_chooser_filter, picture_extension,
            true};
}

TFileChooserSpec TResultsWindow::CleanChooser() {
    return {clean_chooser_title, clean_chooser_filter, clean_extension, true};
}

TFileChooserSpec TResultsWindow::ReportChooser() {
    return {report_chooser_title, report_chooser_filter, report_extension,
            true};
}

int64_t TResultsWindow::SelectedStation() const {
    return map->SelectedStation();
}

void TResultsWindow::SelectStation(int64_t k) { StationChosen(k, true); }

void TResultsWindow::RowChosen(QTableView *table, int row) {
    if (following || row < 0) {
        return;
    }
    const auto *rows = static_cast<const TStationTableModel *>(table->model());
    StationChosen(static_cast<int64_t>(rows->StationAt(row)), true);
}

void TResultsWindow::StationChosen(int64_t k, bool centre) {
    following = true;
    map->SelectStation(k, centre);
    for (QTableView *table : {suspects_table, stations_table}) {
        const auto *rows =
            static_cast<const TStationTableModel *>(table->model());
        const int row = k >= 0 ? rows->RowOf(static_cast<size_t>(k)) : -1;
        if (row < 0) {
            table->clearSelection();
            continue;
        }
        const QModelIndex index = rows->index(row, 0);
        table->selectionModel()->setCurrentIndex(
            index,
            QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        table->scrollTo(index);
    }
    following = false;
    ShowStationInHand();
}

void TResultsWindow::ShowStationInHand() {
    const int64_t k = SelectedStation();
    const bool any = k >= 0 && !recalculating;
    for (QWidget *control : std::initializer_list<QWidget *>{
             btn_keep, btn_reject, btn_fix, btn_undecide, txt_fix_value,
             txt_fix_h, txt_note}) {
        control->setEnabled(any);
    }
    if (k < 0) {
        lbl_station->setText(no_station_text);
        txt_fix_value->clear();
        txt_fix_h->clear();
        txt_note->clear();
        return;
    }
    const size_t station = static_cast<size_t>(k);
    const QcStation &s = results->findings.stations[station];
    const StationDiagnosis *found = results->findings.diagnosis.Of(station);
    const ReviewRow *decided = book.Of(station);
    QString text =
        QString("<b>%1</b> value %2")
            .arg(QString::fromUtf8(results->findings.stations.Name(station))
                     .toHtmlEscaped(),
                 QString::number(s.value, 'f', 3));
    if (found != nullptr && found->cause != Cause::None) {
        text += QString(" \u00b7 cause %1").arg(CauseName(found->cause));
    }
    if (found != nullptr &&
        (std::isfinite(found->fix_value) || std::isfinite(found->fix_h))) {
        text += " \u00b7 proposed fix";
        if (std::isfinite(found->fix_value)) {
            text += " " + QString::number(found->fix_value, 'f', 3);
        }
        if (std::isfinite(found->fix_h)) {
            text += QString(" h %1").arg(found->fix_h, 0, 'f', 1);
        }
    }
    text += " \u00b7 " +
            (decided != nullptr
                 ? QString("decided: <b>%1</b>").arg(DecisionText(*decided))
                 : QString("open"));
    lbl_station->setTextFormat(Qt::RichText);
    lbl_station->setText(text);
    // The fix's fields: the decision's own numbers, else the proposal.
    double value = qc_none, h = qc_none;
    if (decided != nullptr && decided->decision == Decision::Fix) {
        value = decided->value;
        h = decided->h;
    } else if (found != nullptr) {
        value = found->fix_value;
        h = found->fix_h;
    }
    txt_fix_value->setText(FieldNumber(value, 3));
    txt_fix_h->setText(FieldNumber(h, 2));
    txt_note->setText(decided != nullptr ? QString::fromStdString(decided->note)
                                         : QString());
}

QString TResultsWindow::CountsLine() const {
    // The suspects of the run shown and the other stations decided on.
    const std::vector<size_t> &listed = suspects_model->Rows();
    int64_t suspects = 0, decided = 0;
    for (const size_t k : listed) {
        const bool has = book.Of(k) != nullptr;
        if (results->findings.stations[k].suspect || has) {
            ++suspects;
            decided += has ? 1 : 0;
        }
    }
    return QString("%1 suspects: %2 decided, %3 open")
        .arg(suspects)
        .arg(decided)
        .arg(suspects - decided);
}

void TResultsWindow::UpdateCounts() {
    lbl_counts->setText("<b>" + CountsLine() + "</b>");
}

void TResultsWindow::ShowReviewNotes() {
    QStringList lines;
    for (const std::string &problem : review_problems) {
        lines << QString::fromStdString(problem);
    }
    if (!backup_path.empty()) {
        lines << QString("The review file as it was read is kept in %1.")
                     .arg(QString::fromStdString(backup_path));
    }
    const std::vector<ReviewRow> stale = book.Stale();
    if (!stale.empty()) {
        lines << QString("%1 decisions match no station of this run and are "
                         "not applied:")
                     .arg(stale.size());
        for (const ReviewRow &row : stale) {
            lines << "  " + QString::fromStdString(StaleText(row));
        }
    }
    txt_review_notes->setPlainText(lines.join('\n'));
    txt_review_notes->setVisible(!lines.isEmpty());
}

void TResultsWindow::Decide(std::optional<Decision> decision) {
    const int64_t k = SelectedStation();
    if (k < 0 || recalculating) {
        return;
    }
    const size_t station = static_cast<size_t>(k);
    const ReviewRow subject = book.SubjectOf(station);
    const std::optional<ReviewRow> before = book.Find(subject);
    std::optional<ReviewRow> after;
    const QString name = QString::fromStdString(subject.id);
    if (decision) {
        ReviewRow row = subject;
        row.decision = *decision;
        row.note = txt_note->text().toStdString();
        if (*decision == Decision::Fix) {
            const char separator = DecimalSeparator();
            const struct {
                QLineEdit *field;
                const char *what;
                double *number;
            } fields[] = {{txt_fix_value, "The value", &row.value},
                          {txt_fix_h, "The height", &row.h}};
            for (const auto &f : fields) {
                const QString text = f.field->text().trimmed();
                if (text.isEmpty()) {
                    continue;
                }
                double number = 0.0;
                if (!TryStrToFloat(text.toStdString(), number, separator) ||
                    !std::isfinite(number)) {
                    present_error(QString(not_a_number_text).arg(f.what, text));
                    return;
                }
                *f.number = number;
            }
            if (!std::isfinite(row.value) && !std::isfinite(row.h)) {
                present_error(QString(fix_needs_number_text).arg(name));
                return;
            }
        }
        after = row;
    }
    if (!before && !after) {
        return;
    }
    if (before && after && before->decision == after->decision &&
        before->note == after->note &&
        (before->value == after->value ||
         (std::isnan(before->value) && std::isnan(after->value))) &&
        (before->h == after->h ||
         (std::isnan(before->h) && std::isnan(after->h)))) {
        return; // nothing new to undo
    }
    undo_stack->push(new TDecisionCommand(*this, subject, before, after));
}

void TResultsWindow::PutDecision(const ReviewRow &subject,
                                 const std::optional<ReviewRow> &decision) {
    book.Put(subject, decision);
    const int64_t k = book.StationOf(subject);
    if (k >= 0) {
        suspects_model->AddStation(static_cast<size_t>(k));
        suspects_model->StationChanged(static_cast<size_t>(k));
        suspects_table->resizeColumnToContents(TStationTableModel::Decision);
        suspects_table->resizeColumnToContents(TStationTableModel::Note);
        stations_model->StationChanged(static_cast<size_t>(k));
        tabs->setTabText(
            0, QString("Suspects: %1").arg(suspects_model->rowCount()));
        // Undo and redo bring the station they touch into view.
        if (k != SelectedStation()) {
            SelectStation(k);
        }
    }
    map->update();
    UpdateCounts();
    ShowStationInHand();
    ShowSurveys();
    ShowReviewNotes();
    WriteReview();
}

void TResultsWindow::ShowSurveys() {
    const QcFindings &findings = results->findings;
    const int page = tabs->indexOf(surveys_page);
    if (!findings.HasSurveys()) {
        if (page >= 0) {
            tabs->removeTab(page);
        }
        return;
    }
    const SurveyGrouping &grouping = findings.grouping;
    const std::vector<SurveyOffset> &offsets = findings.offsets.surveys;
    // Shifted first, then by the size of the offset.
    std::vector<size_t> order(grouping.Count());
    std::iota(order.begin(), order.end(), size_t{0});
    const auto offset_of = [&](size_t k) {
        return k < offsets.size() && std::isfinite(offsets[k].offset)
                   ? std::fabs(offsets[k].offset)
                   : -1.0;
    };
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
        const bool sa = a < offsets.size() && offsets[a].shifted;
        const bool sb = b < offsets.size() && offsets[b].shifted;
        return sa != sb ? sa : offset_of(a) > offset_of(b);
    });
    const int chosen = surveys_table->currentRow();
    const QString chosen_name =
        chosen >= 0 && surveys_table->item(chosen, 0) != nullptr
            ? surveys_table->item(chosen, 0)->text()
            : QString();
    surveys_table->clear();
    surveys_table->setColumnCount(6);
    surveys_table->setHorizontalHeaderLabels({"Survey", "Decision", "Stations",
                                              "Offset, mGal", "Std error",
                                              "Status"});
    surveys_table->setRowCount(static_cast<int>(order.size()));
    int shifted = 0;
    for (int row = 0; row < static_cast<int>(order.size()); ++row) {
        const size_t k = order[static_cast<size_t>(row)];
        const SurveyOffset *offset = k < offsets.size() ? &offsets[k] : nullptr;
        ReviewRow subject;
        subject.scope = ReviewScope::Survey;
        subject.id = grouping.names[k];
        const std::optional<ReviewRow> decided = book.Find(subject);
        const QString status =
            offset == nullptr || !offset->linked ? "no contact"
            : offset->shifted                    ? "shifted"
            : offset->datum                      ? "datum"
                                                 : "";
        shifted += offset != nullptr && offset->shifted ? 1 : 0;
        const QString cells[] = {
            QString::fromStdString(subject.id),
            decided ? QString(DecisionName(decided->decision)) : QString(),
            QString::number(offset != nullptr ? offset->stations : 0),
            offset != nullptr ? FixedOrEmpty(offset->offset, 3) : QString(),
            offset != nullptr ? FixedOrEmpty(offset->standard_error, 3)
                              : QString(),
            status};
        for (int column = 0; column < 6; ++column) {
            surveys_table->setItem(row, column, new QTableWidgetItem(cells[column]));
        }
        if (cells[0] == chosen_name) {
            surveys_table->setCurrentCell(row, 0);
        }
    }
    surveys_table->resizeColumnsToContents();
    const QString title =
        QString("Surveys: %1, shifted: %2").arg(order.size()).arg(shifted);
    if (page < 0) {
        tabs->addTab(surveys_page, title);
    } else {
        tabs->setTabText(page, title);
    }
}

void TResultsWindow::DecideSurvey(std::optional<Decision> decision) {
    const int row = surveys_table->currentRow();
    const QcFindings &findings = results->findings;
    if (row < 0 || recalculating || !findings.HasSurveys() ||
        surveys_table->item(row, 0) == nullptr) {
        present_error("Choose a survey in the list to decide on it.");
        return;
    }
    ReviewRow subject;
    subject.scope = ReviewScope::Survey;
    subject.id = surveys_table->item(row, 0)->text().toStdString();
    std::optional<ReviewRow> after;
    if (decision) {
        ReviewRow decided = subject;
        decided.decision = *decision;
        if (*decision == Decision::Level) {
            const auto at = std::find(findings.grouping.names.begin(),
                                      findings.grouping.names.end(), subject.id);
            const size_t k =
                static_cast<size_t>(at - findings.grouping.names.begin());
            const double offset = k < findings.offsets.surveys.size()
                                      ? findings.offsets.surveys[k].offset
                                      : qc_none;
            if (!std::isfinite(offset)) {
                present_error(QString("The survey %1 has no offset to remove: "
                                      "it meets no other survey.")
                                  .arg(QString::fromStdString(subject.id)));
                return;
            }
            decided.value = offset;
        }
        after = decided;
    }
    undo_stack->push(
        new TDecisionCommand(*this, subject, book.Find(subject), after));
}

void TResultsWindow::btn_levelClick() { DecideSurvey(Decision::Level); }

void TResultsWindow::btn_keep_surveyClick() { DecideSurvey(Decision::Keep); }

void TResultsWindow::WriteReview() {
    if (review_path.empty()) {
        return;
    }
    // Rows the file held that could not be taken are not lost: the file as
    // read is kept beside it before the first write.
    if (backup_due) {
        backup_due = false;
        const std::string kept = review_path + ".before";
        std::error_code error;
        std::filesystem::copy_file(
            review_path, kept,
            std::filesystem::copy_options::overwrite_existing, error);
        if (!error) {
            backup_path = kept;
            ShowReviewNotes();
        }
    }
    std::string error;
    if (WriteReviewFile(review_path, book.Rows(), error)) {
        write_failed = false;
        return;
    }
    if (!write_failed) {
        write_failed = true;
        present_error(QString::fromStdString(error) +
                      "\nThe decisions are kept in this window.");
    }
}

void TResultsWindow::btn_keepClick() { Decide(Decision::Keep); }

void TResultsWindow::btn_rejectClick() { Decide(Decision::Reject); }

void TResultsWindow::btn_fixClick() { Decide(Decision::Fix); }

void TResultsWindow::btn_undecideClick() { Decide(std::nullopt); }

void TResultsWindow::txt_noteReturn() {
    const int64_t k = SelectedStation();
    if (k < 0) {
        return;
    }
    const ReviewRow *decided = book.Of(static_cast<size_t>(k));
    if (decided == nullptr) {
        present_error(
            QString(note_needs_decision_text)
                .arg(QString::fromUtf8(
                    results->findings.stations.Name(static_cast<size_t>(k)))));
        return;
    }
    const Decision decision = decided->decision;
    if (decision == Decision::Fix) {
        // The note changes, the fix's numbers stay as decided.
        const ReviewRow subject = book.SubjectOf(static_cast<size_t>(k));
        ReviewRow row = *decided;
        row.note = txt_note->text().toStdString();
        if (row.note != decided->note) {
            undo_stack->push(
                new TDecisionCommand(*this, subject, *decided, row));
        }
    } else {
        Decide(decision);
    }
    (tabs->currentIndex() == 0 ? suspects_table : stations_table)->setFocus();
}

void TResultsWindow::btn_recalcClick() {
    if (recalculating) {
        if (stop) {
            stop();
        }
        return;
    }
    if (recalculate) {
        recalculate(book.Rows());
    }
}

void TResultsWindow::SetRecalculating(bool running) {
    recalculating = running;
    btn_recalc->setText(running ? stop_recalc_text : recalc_text);
    btn_save_clean->setEnabled(!running);
    if (!running) {
        lbl_progress->clear();
    }
    ShowStationInHand();
}

void TResultsWindow::SetProgressText(const QString &text) {
    lbl_progress->setText(text);
}

void TResultsWindow::btn_save_cleanClick() {
    if (!save_cleaned || recalculating) {
        return;
    }
    const QString path = choose_file(CleanChooser());
    if (path.isEmpty()) {
        return;
    }
    const CleanSaveOutcome outcome = save_cleaned(path, book.Rows());
    if (!outcome.written) {
        present_error(outcome.message);
        return;
    }
    lbl_progress->setText(outcome.message);
}

void TResultsWindow::btn_saveClick() {
    const QString path = choose_file(PictureChooser());
    if (path.isEmpty()) {
        return;
    }
    const std::string file = path.toStdString();
    const FigureFormat *format = FigureFormatOf(file);
    if (format == nullptr) {
        present_error(
            QString("A picture is saved as %1: %2")
                .arg(QString::fromStdString(FigureExtensionsText()), path));
        return;
    }
    try {
        WriteFigure(file, *format, *model,
                    QSize(default_figure_width, default_figure_height));
    } catch (const FileError &error) {
        present_error(QString::fromStdString(error.what()));
    }
}

void TResultsWindow::btn_reportClick() {
    const QString path = choose_file(ReportChooser());
    if (path.isEmpty()) {
        return;
    }
    const std::string file = path.toStdString();
    if (!IsReportPath(file)) {
        present_error(QString("A report is saved as .pdf: %1").arg(path));
        return;
    }
    for (const std::string &taken : results->run_files) {
        if (SameOutputFile(file, taken)) {
            present_error(QString("%1 is a file of the run (%2): the report "
                                  "does not replace it.")
                              .arg(path, QString::fromStdString(taken)));
            return;
        }
    }
    const QcFindings &findings = results->findings;
    ReportContent content;
    content.source = results->source;
    content.version = KORVANEL_VERSION;
    content.program = window_program;
    content.written = QDateTime::currentDateTime();
    // Letter where the user's locale measures in inches, A4 elsewhere.
    content.paper = QLocale().measurementSystem() == QLocale::ImperialUSSystem
                        ? ReportPaper::Letter
                        : ReportPaper::A4;
    content.parameters = results->header.parameters;
    content.suspect_rule = results->suspect_rule;
    content.duplicate_distance = results->duplicate_distance;
    content.figures = &results->figures;
    content.stations = &findings.stations;
    content.suspects = &findings.suspects;
    content.duplicates = &findings.duplicates;
    content.diagnosis = &findings.diagnosis;
    content.density = findings.diagnosis.density.used;
    content.dem = &findings.dem;
    content.dem_tolerance = results->dem_tolerance;
    // The window's surveys come from the source's survey field.
    content.grouping = &findings.grouping;
    content.offsets = &findings.offsets;
    content.survey_options = results->survey_options;
    content.suspects_levelled = findings.suspects_levelled;
    content.estimated_again = findings.estimated_again;
    content.notes = results->notes;
    content.notes.insert(content.notes.end(), results->run_notes.begin(),
                         results->run_notes.end());
    try {
        WriteReport(file, content);
    } catch (const FileError &error) {
        present_error(QString::fromStdString(error.what()));
    }
}

void TResultsWindow::btn_open_tableClick() {
    const QString path = QString::fromStdString(results->findings.table_path);
    if (path.isEmpty()) {
        return;
    }
    if (!open_url(QUrl::fromLocalFile(path))) {
        present_error("No application of the desktop opened " + path);
    }
}
