// The results window a Calc run opens: the figures of the summary, the map
// of the stations (zoom, pan, tooltips), the histogram of r2, the tables of
// the suspects and of all stations, and the buttons that save the picture
// and the report and open the companion table.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <QString>
#include <QWidget>

#include "app/RunQc.h"
#include "platform/qt/QtDialogs.h"
#include "plot/FigureModel.h"
#include "plot/Report.h"

class QLabel;
class QPushButton;
class QSplitter;
class QTableView;
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
    // What the report adds: the survey file as it was when the run ended,
    // the suspect rule's options and the duplicate distance the run took,
    // the DEM's tolerance (metres), what the run noted of the survey, and
    // the files a report must not replace (the station file and the run's
    // outputs).
    ReportSource source;
    SuspectOptions suspect_rule;
    double duplicate_distance = 1.0;
    double dem_tolerance = DiagnosisOptions{}.dem_tolerance;
    std::vector<std::string> run_notes;
    std::vector<std::string> run_files;
};

// Title of the window; the station file's name follows it.
inline constexpr const char *results_caption = "Korvanel results";

class TResultsWindow : public QWidget {
    Q_OBJECT

  public:
    explicit TResultsWindow(std::unique_ptr<RunResults> results,
                            QWidget *parent = nullptr);
    ~TResultsWindow() override;

    // The station chosen in a table or on the map; -1 for none.
    int64_t SelectedStation() const;
    // Chooses station k: highlights and centres it on the map, selects its
    // row in both tables (the suspects' only if it is one).
    void SelectStation(int64_t k);
    const TFigureModel &Model() const { return *model; }

    // Controls; owned by the window through Qt's parent chain.
    QLabel *lbl_summary;
    TMapWidget *map;
    QWidget *histogram;
    QTableView *suspects_table;
    QTableView *stations_table;
    QPushButton *btn_save;
    QPushButton *btn_report;
    QPushButton *btn_open_table;

    // What chooses the picture's and the report's paths, shows an error and
    // opens the table;
    // they default to Qt's chooser, the error box and the desktop's
    // application for the file. Tests replace them so nothing blocks.
    std::function<QString(const TFileChooserSpec &)> choose_file;
    std::function<void(const QString &)> present_error;
    std::function<bool(const QUrl &)> open_url;

    static TFileChooserSpec PictureChooser();
    static TFileChooserSpec ReportChooser();

    // Handlers, named after their controls.
    void btn_saveClick();       // asks for a path and writes the figure there
    void btn_reportClick();     // asks for a path and writes the report there
    void btn_open_tableClick(); // opens the companion table

  protected:
    // A narrow window puts the histogram and tables below the map.
    void resizeEvent(QResizeEvent *event) override;

  private:
    // Station chosen by the user in one place; the others follow.
    void StationChosen(int64_t k, bool centre);
    void RowChosen(QTableView *table, int row);

    std::unique_ptr<RunResults> results;
    std::unique_ptr<TFigureModel> model;
    TStationTableModel *suspects_model;
    TStationTableModel *stations_model;
    QSplitter *split; // the map beside (or above) the histogram and tables
    bool following = false; // a choice is being passed on to the others
};
