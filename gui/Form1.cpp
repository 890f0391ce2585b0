// The main window: builds its controls at their fixed places and runs the
// Calc run on its own thread, handling pending events between stations.
#include "gui/Form1.h"

#include <algorithm>
#include <filesystem>

#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRect>
#include <QScreen>

#include "app/Jobs.h"
#include "app/ResultPath.h"
#include "gui/ResultsWindow.h"
#include "platform/Locale.h"
#include "platform/qt/QtApplication.h"
#include "review/ReviewedInput.h"

TForm1 *Form1 = nullptr;

namespace {

// The window's own texts.
constexpr const char *caption = "Korvanel";
constexpr const char *gridding_methods[] = {"Kriging", "Minimum curvature",
                                            "Pohanka interpolation"};
constexpr const char *chooser_button = "...";
constexpr const char *stop_text = "&Stop";
constexpr const char *calc_text = "&Calc";
constexpr const char *exit_text = "E&xit";
constexpr const char *data_label = "Data (x,y,point,h,uba)";
constexpr const char *a_label = "Search rectangle distance [m]";
constexpr const char *incr_label = "Increment[m]";
constexpr const char *n_label = "Minimum N points for gridding";
constexpr const char *cell_label = "Cell size";
constexpr const char *gridding_label = "Gridding method";
constexpr const char *out_label =
    "Output data file (x,y,point,uba, r1, r2, a, N";

constexpr const char *data_chooser_title =
    "Path for data file - select any *.xyz or *.dat file";
// The first entry, the default, lists every file (on Unix "*.*" would hide
// names without a dot); tables and GIS layers follow.
constexpr const char *data_chooser_filter =
    "Data file - x,y,point,h (*);;"
    "Survey tables and GIS layers (*.csv *.tsv *.txt *.xlsx *.ods *.gpkg "
    "*.shp *.geojson *.json *.fgb)";
constexpr const char *output_chooser_title = "Name of output data file";
constexpr const char *output_chooser_filter =
    "Surfer Data file - fi, lambda (*.dat)";
constexpr const char *result_extension = "dat";

// How the outputs and the input are named in messages, and the answers of
// the window's questions.
constexpr const char *data_field_name = "the Data field";
constexpr const char *output_field_name = "the Output field";
constexpr const char *companion_table_name = "the companion table";
constexpr const char *keep_partial_text = "Keep the partial result";
constexpr const char *keep_earlier_text = "Keep the earlier result";
constexpr const char *replace_text = "Replace it";
constexpr const char *keep_text = "Keep it and stop";

// Client area, pixels at 96 dots per inch.
constexpr int client_width = 650;
constexpr int client_height = 293;
// The progress bar's range before the first run.
constexpr int initial_progress_max = 100;
// Stations between two updates of the progress bar's text.
constexpr int64_t progress_text_step = 10;
// Pixels between the main window and the results window.
constexpr int results_gap = 8;

} // namespace

TForm1::TForm1(QWidget *parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint |
                          Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint |
                          Qt::MSWindowsFixedSizeDialogHint),
      present_message(
          [this](const QString &text) { ShowMessageBox(this, text); }),
      present_error([this](const QString &text) { ShowErrorBox(this, text); }),
      choose_file([this](const TFileChooserSpec &spec) {
          return RunFileChooser(spec, this);
      }),
      choose_columns([this](ColumnRequest &request) {
          return RunColumnDialog(request, this);
      }),
      ask([this](const QString &text, const QString &yes, const QString &no) {
          return AskQuestion(this, text, yes, no);
      }) {
    setWindowTitle(caption);
    setFont(WindowFont());
    setFixedSize(client_width, client_height);
    CreateControls();
    PlaceControls();
    SetRunning(false);
    CentreOnScreen();
}

// The connection member closes a database left open by a run that failed.
TForm1::~TForm1() = default;

void TForm1::CreateControls() {
    lbl_data = new QLabel(data_label, this);
    txt_data = new QLineEdit(this);
    btn_data = new QPushButton(chooser_button, this);
    lbl_a = new QLabel(a_label, this);
    const ParameterTexts defaults = DefaultParameterTexts();
    txt_a =
        new QLineEdit(QString::fromStdString(defaults.search_distance), this);
    lbl_incr = new QLabel(incr_label, this);
    txt_incr = new QLineEdit(QString::fromStdString(defaults.increment), this);
    lbl_n = new QLabel(n_label, this);
    txt_n = new QLineEdit(QString::fromStdString(defaults.min_points), this);
    lbl_cell = new QLabel(cell_label, this);
    txt_cell = new QLineEdit(QString::fromStdString(defaults.cell_size), this);
    lbl_gridding = new QLabel(gridding_label, this);
    cb_gridding = new QComboBox(this);
    for (const char *method : gridding_methods) {
        cb_gridding->addItem(method);
    }
    cb_gridding->setCurrentIndex(0);
    cb_gridding->setEnabled(false);
    lbl_out = new QLabel(out_label, this);
    txt_out = new QLineEdit(this);
    btn_out = new QPushButton(chooser_button, this);
    ProgressBar1 = new QProgressBar(this);
    ProgressBar1->setRange(0, initial_progress_max);
    ProgressBar1->setValue(0);
    ProgressBar1->setTextVisible(false);
    btn_stop = new QPushButton(stop_text, this);
    btn_calc = new QPushButton(calc_text, this);
    btn_exit = new QPushButton(exit_text, this);

    connect(txt_data, &QLineEdit::textChanged, this, &TForm1::DataChanged);
    connect(btn_data, &QPushButton::clicked, this, &TForm1::btn_dataClick);
    connect(btn_out, &QPushButton::clicked, this, &TForm1::btn_outClick);
    connect(btn_calc, &QPushButton::clicked, this, &TForm1::btn_calcClick);
    connect(btn_stop, &QPushButton::clicked, this, &TForm1::btn_stopClick);
    connect(btn_exit, &QPushButton::clicked, this, &TForm1::btn_exitClick);
}

void TForm1::PlaceControls() {
    struct Place {
        QWidget *widget;
        int left, top, width, height;
    };
    const Place places[] = {
        {lbl_data, 8, 16, 110, 13},       {txt_data, 8, 32, 601, 21},
        {btn_data, 616, 32, 25, 25},      {lbl_a, 8, 59, 143, 13},
        {txt_a, 208, 59, 121, 21},        {lbl_incr, 344, 64, 65, 13},
        {txt_incr, 489, 59, 121, 21},     {lbl_n, 8, 88, 140, 13},
        {txt_n, 208, 86, 121, 21},        {lbl_cell, 8, 112, 38, 13},
        {txt_cell, 208, 109, 121, 21},    {lbl_gridding, 8, 136, 78, 13},
        {cb_gridding, 208, 136, 217, 21}, {lbl_out, 8, 168, 210, 13},
        {txt_out, 8, 187, 601, 21},       {btn_out, 615, 182, 25, 25},
        {ProgressBar1, 8, 224, 632, 17},  {btn_stop, 403, 256, 75, 25},
        {btn_calc, 484, 256, 75, 25},     {btn_exit, 565, 256, 75, 25},
    };
    for (const Place &place : places) {
        place.widget->setGeometry(place.left, place.top, place.width,
                                  place.height);
    }
    for (QLabel *label :
         {lbl_data, lbl_a, lbl_incr, lbl_n, lbl_cell, lbl_gridding, lbl_out}) {
        label_sizes.emplace_back(label, label->size());
    }
    FitLabels();

    // Keyboard order: txt_data, txt_a, txt_n, txt_cell, cb_gridding, btn_data,
    // txt_out, btn_out, (the progress bar takes no focus), btn_exit, btn_calc,
    // txt_incr, btn_stop.
    QWidget *const tab_order[] = {txt_data,    txt_a,    txt_n,    txt_cell,
                                  cb_gridding, btn_data, txt_out,  btn_out,
                                  btn_exit,    btn_calc, txt_incr, btn_stop};
    for (size_t k = 1; k < std::size(tab_order); ++k) {
        setTabOrder(tab_order[k - 1], tab_order[k]);
    }
}

void TForm1::FitLabels() {
    // The places were measured with Tahoma; with a wider font a label grows to
    // the right and down, into free space, so its whole text shows.
    for (const auto &[label, measured] : label_sizes) {
        label->resize(measured.expandedTo(label->sizeHint()));
    }
}

void TForm1::changeEvent(QEvent *event) {
    if (event->type() == QEvent::FontChange) {
        FitLabels();
    }
    QWidget::changeEvent(event);
}

void TForm1::CentreOnScreen() {
    const QScreen *screen = QGuiApplication::primaryScreen();
    if (screen == nullptr) {
        return;
    }
    QRect frame(QPoint(0, 0), size());
    frame.moveCenter(screen->availableGeometry().center());
    move(frame.topLeft());
}

TFileChooserSpec TForm1::DataChooser() {
    return {data_chooser_title, data_chooser_filter, result_extension, false};
}

TFileChooserSpec TForm1::OutputChooser() {
    return {output_chooser_title, output_chooser_filter, result_extension,
            true};
}

void TForm1::btn_dataClick() {
    const QString path = choose_file(DataChooser());
    if (!path.isEmpty()) {
        TakeStationFile(path);
    }
}

void TForm1::TakeStationFile(const QString &path) {
    txt_data->setText(path);
    // The chooser proposes the result whatever the Output field held.
    proposed_out =
        QString::fromStdString(ProposeResultPath(path.toStdString()));
    txt_out->setText(proposed_out);
}

void TForm1::DataChanged(const QString &path) {
    if (!txt_out->text().isEmpty() && txt_out->text() != proposed_out) {
        return; // the user's own result path
    }
    proposed_out =
        path.isEmpty()
            ? QString()
            : QString::fromStdString(ProposeResultPath(path.toStdString()));
    txt_out->setText(proposed_out);
}

void TForm1::btn_outClick() {
    const QString path = choose_file(OutputChooser());
    if (!path.isEmpty()) {
        txt_out->setText(path);
    }
}

void TForm1::btn_calcClick() {
    // Calc is disabled during a run; this also keeps a run from starting inside
    // another.
    if (in_run) {
        return;
    }
    // An empty result field takes the path the input chooser would propose.
    if (txt_out->text().isEmpty() && !txt_data->text().isEmpty()) {
        txt_out->setText(QString::fromStdString(
            ProposeResultPath(txt_data->text().toStdString())));
    }
    // The four fields, in the user's number format; one that is not a
    // number ends the run before it starts, in the error box.
    RunSettings settings;
    settings.jobs = jobs;
    settings.decimal_separator = DecimalSeparator();
    const ParameterTexts texts{
        txt_a->text().toStdString(), txt_incr->text().toStdString(),
        txt_n->text().toStdString(), txt_cell->text().toStdString()};
    if (const std::optional<ParameterRefusal> refusal = ParseParameters(
            texts, settings.decimal_separator, settings.parameters)) {
        last_result = CalcResult::Failed;
        ProgressBar1->setTextVisible(false);
        present_error(QString::fromStdString(refusal->message));
        return;
    }
    auto run = std::make_unique<ShownRun>();
    run->settings = settings;
    SurveyPreparation prepared;
    if (!PrepareStations(run->survey, prepared)) {
        return;
    }
    run->notes = prepared.notes;
    run->data = txt_data->text().toStdString();
    run->result = txt_out->text().toStdString();
    run->station_file = QFileInfo(txt_data->text()).fileName().toStdString();
    RunOutcome outcome = RunSurvey(*run, nullptr, {});
    if ((last_result == CalcResult::Completed ||
         last_result == CalcResult::Stopped) &&
        !close_after_run && outcome.qc.stations.Size() > 0) {
        OpenResults(outcome, std::move(run));
    }
    // The count of stations means nothing after a run that did not start.
    if (last_result != CalcResult::Completed &&
        last_result != CalcResult::Stopped) {
        ProgressBar1->setTextVisible(false);
    }
    PresentRunMessages();
    if (close_after_run) {
        close_after_run = false;
        close();
    }
}

RunOutcome TForm1::RunSurvey(ShownRun &run,
                             std::shared_ptr<TReviewDecisions> decisions,
                             ReviewSink sink) {
    in_run = true;
    run_messages.clear();
    stations_total = stations_done = 0;
    ProgressBar1->setTextVisible(false);
    RunInput input;
    input.path = run.data;
    FeedRun(input, run.survey, run.settings, true);
    if (decisions) {
        ApplyReview(input, run.settings, std::move(decisions), {},
                    std::move(sink));
    }
    TOutputSet outputs;
    outputs.SetInput(data_field_name, input.path);
    const RunOutputs run_outputs =
        AddRunOutputs(outputs, output_field_name, run.result,
                      companion_table_name, run.settings.qc);
    TCalcRun calc(*this);
    RunOutcome outcome = calc.Run(run.settings, input, run_outputs);
    last_result = outcome.result;
    last_loaded = static_cast<int32_t>(outcome.loaded);
    last_done = static_cast<int32_t>(outcome.figures.read);
    in_run = false;
    SettleOutputs(outcome, run_outputs);
    return outcome;
}

void TForm1::Recalculate(const std::vector<ReviewRow> &rows) {
    if (in_run || !shown_run || !results_window) {
        return;
    }
    auto decisions = std::make_shared<TReviewDecisions>(rows);
    // The stations the decisions leave out, to be shown as such.
    TQcStations left_out;
    const ReviewSink sink = [&left_out](const InputRecord &record,
                                        bool rejected, bool) {
        if (rejected && record.is_station) {
            QcStation station = NotReachedRecord(record);
            station.status = QcStatus::Skipped;
            left_out.Add(station, record.name);
        }
    };
    recalculating = true;
    results_window->SetRecalculating(true);
    RunOutcome outcome = RunSurvey(*shown_run, decisions, sink);
    recalculating = false;
    if (results_window) {
        results_window->SetRecalculating(false);
    }
    if ((last_result == CalcResult::Completed ||
         last_result == CalcResult::Stopped) &&
        !close_after_run && outcome.qc.stations.Size() > 0 && results_window) {
        std::unique_ptr<RunResults> results = ResultsOf(outcome, *shown_run);
        results->reviewed = true;
        results->tally = decisions->Tally();
        for (size_t k = 0; k < left_out.Size(); ++k) {
            results->findings.stations.Add(left_out[k], left_out.Name(k));
        }
        results_window->ShowRun(std::move(results));
    }
    if (last_result != CalcResult::Completed &&
        last_result != CalcResult::Stopped) {
        ProgressBar1->setTextVisible(false);
    }
    PresentRunMessages();
    if (close_after_run) {
        close_after_run = false;
        close();
    }
}

CleanSaveOutcome TForm1::SaveCleaned(const QString &path,
                                     const std::vector<ReviewRow> &rows) {
    if (in_run || !shown_run || !results_window) {
        return {false, QString("The survey is being run: save it once the "
                               "run has ended.")};
    }
    const RunResults &shown = results_window->Results();
    return SaveCleanedSurvey(path.toStdString(), *shown_run,
                             {shown_run->result, shown.findings.table_path,
                              results_window->ReviewPath()},
                             rows);
}

bool TForm1::PrepareStations(SurveyInput &survey, SurveyPreparation &prepared) {
    const std::string path = txt_data->text().toStdString();
    if (path != columns_for) {
        table_options = TableOptions{};
        columns_for = path;
    }
    table_options.decimal_separator = DecimalSeparator();
    for (;;) {
        survey = SurveyInput{};
        prepared = PrepareSurvey(path, table_options, survey);
        if (!prepared.AsksForColumns()) {
            break;
        }
        ColumnRequest request;
        request.file = QFileInfo(txt_data->text()).fileName();
        request.reason =
            prepared.columns_unknown
                ? QString("The first line of %1 names no column that "
                          "Korvanel recognises. Choose which field is which.")
                      .arg(request.file)
                : QString::fromStdString(prepared.Error()) +
                      "\n\nChoose which field is which.";
        request.fields = prepared.fields;
        if (table_options.columns) {
            request.columns = *table_options.columns;
        }
        request.source_crs = table_options.source_crs;
        if (!choose_columns(request)) {
            return false;
        }
        table_options.columns = request.columns;
        table_options.source_crs = request.source_crs;
    }
    if (!prepared.Ready()) {
        present_error(QString::fromStdString(prepared.Error()));
        return false;
    }
    return true;
}

std::unique_ptr<RunResults> TForm1::ResultsOf(RunOutcome &outcome,
                                              const ShownRun &run) const {
    auto results = std::make_unique<RunResults>();
    results->notes = run.notes;
    FigureHeader &header = results->header;
    header.station_file = run.station_file;
    header.parameters = run.settings.parameters;
    header.suspect_threshold = run.settings.qc.suspect_threshold;
    results->source = DescribeSurveyFile(run.data);
    results->suspect_rule = run.settings.qc.SuspectRule();
    results->duplicate_distance = run.settings.qc.duplicate_distance;
    results->dem_tolerance = run.settings.qc.dem_tolerance;
    results->survey_options = run.settings.qc.surveys;
    results->run_notes = outcome.notes;
    results->run_files = {run.data, run.result};
    if (!outcome.qc.table_path.empty()) {
        results->run_files.push_back(outcome.qc.table_path);
    }
    results->figures = outcome.figures;
    results->findings = std::move(outcome.qc);
    return results;
}

void TForm1::OpenResults(RunOutcome &outcome, std::unique_ptr<ShownRun> run) {
    std::unique_ptr<RunResults> results = ResultsOf(outcome, *run);
    // A result that is a device or a pipe keeps no review beside it.
    std::error_code ignored;
    const bool beside = !std::filesystem::exists(run->result, ignored) ||
                        std::filesystem::is_regular_file(run->result, ignored);
    const std::string review_path =
        beside ? ReviewPathFor(run->result) : std::string();
    // The earlier run's window closes as the new one opens.
    results_window.reset();
    shown_run = std::move(run);
    results_window =
        std::make_unique<TResultsWindow>(std::move(results), review_path);
    results_window->recalculate = [this](const std::vector<ReviewRow> &rows) {
        Recalculate(rows);
    };
    results_window->stop = [this] { btn_stopClick(); };
    results_window->save_cleaned = [this](const QString &path,
                                          const std::vector<ReviewRow> &rows) {
        return SaveCleaned(path, rows);
    };
    // The program ends with the main window, whatever results are open.
    results_window->setAttribute(Qt::WA_QuitOnClose, false);

    // Beside the main window, on the side with more room, narrower than it
    // would like where the screen asks for it; over the main window's edge
    // only when even its narrowest does not fit.
    const QRect main = frameGeometry();
    QRect place(QPoint(main.right() + results_gap, main.top()),
                results_window->size());
    if (const QScreen *screen = QGuiApplication::primaryScreen()) {
        const QRect room = screen->availableGeometry();
        const int right_room = room.right() - main.right() - results_gap;
        const int left_room = main.left() - room.left() - results_gap;
        const int width = std::min(
            place.width(), std::max(std::max(right_room, left_room),
                                    results_window->minimumSizeHint().width()));
        // A narrow window stacks its parts: it takes the screen's height.
        const int height = width < results_window->width()
                               ? room.height()
                               : std::min(place.height(), room.height());
        place.setSize(QSize(width, height));
        if (right_room >= left_room) {
            place.moveLeft(std::min(main.right() + results_gap,
                                    room.right() - place.width()));
        } else {
            place.moveRight(std::max(main.left() - results_gap,
                                     room.left() + place.width()));
        }
        place.moveTop(room.top() + (room.height() - place.height()) / 2);
    }
    results_window->resize(place.size());
    results_window->move(place.topLeft());
    results_window->show();
}

void TForm1::SettleOutputs(const RunOutcome &outcome,
                           const RunOutputs &run_outputs) {
    // What the user should know of the survey comes with the run's
    // messages.
    for (const std::string &note : outcome.notes) {
        run_messages.append(QString::fromStdString(note));
    }
    TOutputSet &outputs = *run_outputs.set;
    if (!KeepsOutputs(outcome, run_outputs)) {
        outputs.Abandon();
        return;
    }
    const std::string &result_path = outputs.Path(run_outputs.result);
    std::error_code ignored;
    if (outcome.result == CalcResult::Stopped && !close_after_run &&
        std::filesystem::is_regular_file(result_path, ignored) &&
        !ask(QString("The run was stopped after %1 of %2 stations. Keep the "
                     "partial result in %3, or the earlier result?")
                 .arg(outcome.figures.read)
                 .arg(outcome.figures.Stations())
                 .arg(QString::fromStdString(result_path)),
             keep_partial_text, keep_earlier_text)) {
        outputs.Abandon();
        return;
    }
    const OutputProblem problem = outputs.Publish();
    if (!problem.ok()) {
        run_messages.append(QString::fromStdString(OutputMessage(problem)));
    }
}

bool TForm1::ConfirmReplace(const std::string &question) {
    return ask(QString::fromStdString(question), replace_text, keep_text);
}

void TForm1::btn_stopClick() { stop_requested = true; }

void TForm1::btn_exitClick() { close(); }

void TForm1::closeEvent(QCloseEvent *event) {
    if (in_run) {
        stop_requested = true;
        close_after_run = true;
        event->ignore();
        return;
    }
    if (results_window) {
        results_window->close();
    }
    event->accept();
}

void TForm1::SetRunning(bool running) {
    btn_stop->setEnabled(running);
    btn_calc->setEnabled(!running);
    btn_exit->setEnabled(!running);
}

void TForm1::SetProgressMax(int32_t maximum) {
    // QProgressBar shows a busy indicator for an empty range; an empty survey
    // shows an empty bar instead.
    ProgressBar1->setRange(0, std::max<int32_t>(maximum, 1));
    ProgressBar1->setValue(0);
}

void TForm1::SetProgressPosition(int32_t position) {
    // A position beyond the range stops at its end.
    ProgressBar1->setValue(
        std::clamp<int32_t>(position, 0, ProgressBar1->maximum()));
}

int32_t TForm1::ProgressPosition() { return ProgressBar1->value(); }

void TForm1::ProcessPendingEvents() { QCoreApplication::processEvents(); }

void TForm1::ClearStopRequest() { stop_requested = false; }

bool TForm1::StopRequested() { return stop_requested; }

void TForm1::ShowMessage(const std::string &text) {
    // A run's messages wait for its end, so that none halts it midway.
    if (in_run) {
        run_messages.append(QString::fromStdString(text));
        return;
    }
    present_message(QString::fromStdString(text));
}

void TForm1::PresentRunMessages() {
    if (!run_messages.isEmpty()) {
        const QString text = run_messages.join("\n\n");
        run_messages.clear();
        present_message(text);
    }
}

void TForm1::StationsLoaded(int64_t loaded) {
    stations_total = loaded;
    ProgressBar1->setFormat(QString("0 of %1 stations").arg(loaded));
    ProgressBar1->setTextVisible(true);
}

void TForm1::StationDone(const StationOutcome &) {
    ++stations_done;
    if (stations_done % progress_text_step == 0 ||
        stations_done == stations_total) {
        ProgressBar1->setFormat(QString("%1 of %2 stations")
                                    .arg(stations_done)
                                    .arg(stations_total));
        if (recalculating && results_window) {
            results_window->SetProgressText(ProgressBar1->format());
        }
    }
}

void TForm1::ShowError(const std::string &text) {
    // Messages of the run come first, then the error that ended it.
    PresentRunMessages();
    present_error(QString::fromStdString(text));
}
