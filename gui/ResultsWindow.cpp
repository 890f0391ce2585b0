// The results window: its parts side by side, and a chosen station passed
// between the map and the tables.
#include "gui/ResultsWindow.h"

#include <numeric>

#include <QDesktopServices>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QResizeEvent>
#include <QSplitter>
#include <QTableView>
#include <QUrl>
#include <QVBoxLayout>

#include "gui/MapWidget.h"
#include "gui/StationTable.h"
#include "platform/FileError.h"
#include "plot/Figure.h"
#include "plot/FigureFile.h"

namespace {

constexpr const char *save_text = "Save picture\u2026";
constexpr const char *open_table_text = "Open table";
constexpr const char *picture_chooser_title = "Save picture";
constexpr const char *picture_chooser_filter = "Pictures (*.png *.svg)";
constexpr const char *picture_extension = "png";
constexpr const char *hint_text =
    "Wheel: zoom \u00b7 drag: pan \u00b7 click a station or a row to find it";
constexpr int initial_width = 1280;
constexpr int initial_height = 820;
constexpr int histogram_height = 190;
constexpr double histogram_text = 12.0;
constexpr int table_row_height = 20;
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

QTableView *MakeTable(TStationTableModel *model, QWidget *parent) {
    auto *table = new QTableView(parent);
    table->setModel(model);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->setSelectionMode(QAbstractItemView::SingleSelection);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->setSortingEnabled(true);
    table->horizontalHeader()->setSortIndicator(TStationTableModel::AbsR2,
                                                Qt::DescendingOrder);
    table->verticalHeader()->setVisible(false);
    // Rows of one height: a million of them stay quick to scroll.
    table->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    table->verticalHeader()->setDefaultSectionSize(table_row_height);
    table->horizontalHeader()->setStretchLastSection(true);
    table->setAlternatingRowColors(true);
    return table;
}

QWidget *Titled(const QString &title, QWidget *content, QWidget *parent) {
    auto *box = new QWidget(parent);
    auto *layout = new QVBoxLayout(box);
    layout->setContentsMargins(0, 4, 0, 0);
    layout->setSpacing(2);
    layout->addWidget(new QLabel(title, box));
    content->setParent(box);
    layout->addWidget(content);
    return box;
}

} // namespace

TResultsWindow::TResultsWindow(std::unique_ptr<RunResults> results_,
                               QWidget *parent)
    : QWidget(parent, Qt::Window), results(std::move(results_)) {
    const QcFindings &findings = results->findings;
    model = std::make_unique<TFigureModel>(results->header, results->figures,
                                           findings.stations, findings.suspects,
                                           findings.duplicates);
    model->SetDiagnosis(&findings.diagnosis);
    setWindowTitle(
        QString("%1 \u2014 %2")
            .arg(results_caption,
                 QString::fromStdString(results->header.station_file)));
    choose_file = [this](const TFileChooserSpec &spec) {
        return RunFileChooser(spec, this);
    };
    present_error = [this](const QString &text) { ShowErrorBox(this, text); };
    open_url = [](const QUrl &url) { return QDesktopServices::openUrl(url); };

    lbl_summary = new QLabel(this);
    lbl_summary->setTextFormat(Qt::RichText);
    QString notes;
    for (const std::string &note : results->notes) {
        notes += "<br>" + QString::fromStdString(note).toHtmlEscaped();
    }
    lbl_summary->setText(
        QString("<b style='font-size:large'>%1</b><br>%2<br><b>%3</b>"
                "<span style='color:#555'>%4</span>")
            .arg(TitleText(*model).toHtmlEscaped(),
                 ParametersText(*model).toHtmlEscaped(),
                 CountsText(*model).toHtmlEscaped(), notes));
    map = new TMapWidget(*model, this);
    histogram = new THistogramWidget(*model, this);

    std::vector<size_t> all(findings.stations.Size());
    std::iota(all.begin(), all.end(), size_t{0});
    suspects_model =
        new TStationTableModel(findings.stations, findings.suspects.suspects,
                               this, &findings.diagnosis);
    stations_model = new TStationTableModel(findings.stations, std::move(all),
                                            this, &findings.diagnosis);
    suspects_table = MakeTable(suspects_model, this);
    stations_table = MakeTable(stations_model, this);

    btn_save = new QPushButton(save_text, this);
    btn_open_table = new QPushButton(open_table_text, this);
    btn_open_table->setEnabled(!findings.table_path.empty());

    auto *right = new QSplitter(Qt::Vertical, this);
    right->addWidget(histogram);
    right->addWidget(
        Titled(QString("Suspects: %1").arg(suspects_model->rowCount()),
               suspects_table, right));
    right->addWidget(
        Titled(QString("All stations: %1").arg(stations_model->rowCount()),
               stations_table, right));
    right->setStretchFactor(0, 0);
    right->setStretchFactor(1, 1);
    right->setStretchFactor(2, 2);
    split = new QSplitter(Qt::Horizontal, this);
    split->addWidget(map);
    split->addWidget(right);
    split->setStretchFactor(0, 3);
    split->setStretchFactor(1, 2);

    auto *buttons = new QHBoxLayout;
    buttons->addWidget(new QLabel(hint_text, this), 1);
    buttons->addWidget(btn_save);
    buttons->addWidget(btn_open_table);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(lbl_summary);
    layout->addWidget(split, 1);
    layout->addLayout(buttons);
    resize(initial_width, initial_height);
    // The map has the focus when the window first becomes active, so that
    // no table chooses its first row by itself.
    map->setFocusPolicy(Qt::StrongFocus);
    map->setFocus();

    connect(btn_save, &QPushButton::clicked, this,
            &TResultsWindow::btn_saveClick);
    connect(btn_open_table, &QPushButton::clicked, this,
            &TResultsWindow::btn_open_tableClick);
    connect(map, &TMapWidget::StationChosen, this,
            [this](qint64 k) { StationChosen(k, false); });
    for (QTableView *table : {suspects_table, stations_table}) {
        connect(table->selectionModel(),
                &QItemSelectionModel::currentRowChanged, this,
                [this, table](const QModelIndex &current) {
                    if (current.isValid()) {
                        RowChosen(table, current.row());
                    }
                });
    }
}

TResultsWindow::~TResultsWindow() = default;

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

int64_t TResultsWindow::SelectedStation() const {
    return map->SelectedStation();
}

void TResultsWindow::SelectStation(int64_t k) { StationChosen(k, true); }

void TResultsWindow::RowChosen(QTableView *table, int row) {
    if (following) {
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

void TResultsWindow::btn_open_tableClick() {
    const QString path = QString::fromStdString(results->findings.table_path);
    if (path.isEmpty()) {
        return;
    }
    if (!open_url(QUrl::fromLocalFile(path))) {
        present_error("No application of the desktop opened " + path);
    }
}
