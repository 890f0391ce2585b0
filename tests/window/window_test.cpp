// The main window on the offscreen platform: its controls and states, the
// choosers, Calc runs that complete, stop, close or fail, and the results
// window they open.
#include <cmath>
#include <memory>
#include <stdexcept>

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHeaderView>
#include <QPlainTextEdit>
#include <QProcess>
#include <QTabWidget>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QStringList>
#include <QTableView>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QUndoStack>
#include <QUrl>
#include <QtTest>

#include "app/Jobs.h"
#include "gui/ColumnDialog.h"
#include "gui/Form1.h"
#include "gui/MapWidget.h"
#include "gui/ResultsWindow.h"
#include "gui/StationTable.h"
#include "platform/Dialogs.h"
#include "platform/qt/QtApplication.h"
#include "platform/qt/QtDialogs.h"

namespace {

// `count` stations on a lattice 100 m apart (rows of 10), values on a plane.
QByteArray Survey(int count) {
    QByteArray text = "x y point h uba\n";
    for (int k = 0; k < count; ++k) {
        const int column = k % 10;
        const int row = k / 10;
        text += QByteArray::number(500000 + 100 * column) + ' ' +
                QByteArray::number(5500000 + 100 * row) + " P" +
                QByteArray::number(k + 1) + " 350 " +
                QByteArray::number(1.0 * column - 0.3 * row, 'f', 3) + '\n';
    }
    return text;
}

// Survey(100) with three blunders planted: P46's value (3.8) lost its sign,
// P23's (1.4) its decimal point, P78's (4.9) is one of another station.
QByteArray BlunderedSurvey() {
    QByteArray survey = Survey(100);
    survey.replace(" P46 350 3.800\n", " P46 350 -3.800\n");
    survey.replace(" P23 350 1.400\n", " P23 350 14.000\n");
    survey.replace(" P78 350 4.900\n", " P78 350 9.100\n");
    return survey;
}

// The station named `name` among `stations`; -1 for none.
int64_t IndexOf(const TQcStations &stations, const char *name) {
    for (size_t k = 0; k < stations.Size(); ++k) {
        if (stations.Name(k) == name) {
            return int64_t(k);
        }
    }
    return -1;
}

QByteArray ReadFile(const QString &path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class WindowTest : public QObject {
    Q_OBJECT

  private:
    std::unique_ptr<TForm1> form;
    QStringList messages, errors;
    // The questions the window asked, and the answers it gets (true: the
    // first button), in turn; none left: the second.
    QStringList questions;
    QList<bool> answers;
    QList<TFileChooserSpec> choosers_run;
    QString next_choice; // what the fake chooser returns
    std::unique_ptr<QTemporaryDir> dir;

    QString Write(const QString &name, const QByteArray &content) {
        const QString path = dir->filePath(name);
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) ||
            file.write(content) != content.size()) {
            qFatal("cannot write %s", qPrintable(path));
        }
        return path;
    }

    // Fields for a run over `survey` into result.dat; N = 4 keeps the windows
    // small.
    void PrepareRun(const QByteArray &survey) {
        form->txt_data->setText(Write("survey.dat", survey));
        form->txt_out->setText(dir->filePath("result.dat"));
        form->txt_n->setText("4");
    }

    void VerifyIdle() {
        QVERIFY(form->btn_calc->isEnabled());
        QVERIFY(form->btn_exit->isEnabled());
        QVERIFY(!form->btn_stop->isEnabled());
    }

  private slots:
    void init() {
        dir = std::make_unique<QTemporaryDir>();
        QVERIFY(dir->isValid());
        messages.clear();
        errors.clear();
        questions.clear();
        answers.clear();
        choosers_run.clear();
        form = std::make_unique<TForm1>();
        form->ask = [this](const QString &text, const QString &,
                           const QString &) {
            questions << text;
            return answers.isEmpty() ? false : answers.takeFirst();
        };
        form->present_message = [this](const QString &text) {
            messages << text;
        };
        form->present_error = [this](const QString &text) { errors << text; };
        form->choose_file = [this](const TFileChooserSpec &spec) {
            choosers_run << spec;
            return next_choice;
        };
    }

    void cleanup() {
        form.reset();
        dir.reset();
    }

    void ControlsStartAtTheirDefaults() {
        QCOMPARE(form->windowTitle(), QString("Korvanel"));
        QCOMPARE(form->size(), QSize(650, 293));
        QCOMPARE(form->minimumSize(), form->maximumSize()); // not resizable
        QCOMPARE(
            form->geometry().center(),
            QGuiApplication::primaryScreen()->availableGeometry().center());
        QCOMPARE(form->font().pointSize(), 8);
        if (QFileInfo::exists("/usr/share/wine/fonts/tahoma.ttf")) {
            QCOMPARE(QFontInfo(form->font()).family(), QString("Tahoma"));
        }

        const struct {
            QLineEdit *field;
            const char *text;
        } fields[] = {{form->txt_data, ""},    {form->txt_a, "2500"},
                      {form->txt_incr, "500"}, {form->txt_n, "16"},
                      {form->txt_cell, "200"}, {form->txt_out, ""}};
        for (const auto &f : fields) {
            QCOMPARE(f.field->text(), QString(f.text));
            QVERIFY(f.field->isEnabled());
        }

        QVERIFY(!form->cb_gridding->isEnabled());
        QVERIFY(!form->cb_gridding->isEditable());
        QCOMPARE(form->cb_gridding->count(), 3);
        QCOMPARE(form->cb_gridding->itemText(0), QString("Kriging"));
        QCOMPARE(form->cb_gridding->itemText(1), QString("Minimum curvature"));
        QCOMPARE(form->cb_gridding->itemText(2),
                 QString("Pohanka interpolation"));
        QCOMPARE(form->cb_gridding->currentText(), QString("Kriging"));

        QCOMPARE(form->ProgressBar1->minimum(), 0);
        QCOMPARE(form->ProgressBar1->value(), 0);

        const struct {
            QPushButton *button;
            const char *text;
            QKeySequence key;
            bool enabled;
        } buttons[] = {
            {form->btn_data, "...", QKeySequence(), true},
            {form->btn_out, "...", QKeySequence(), true},
            {form->btn_stop, "&Stop", QKeySequence(Qt::ALT | Qt::Key_S), false},
            {form->btn_calc, "&Calc", QKeySequence(Qt::ALT | Qt::Key_C), true},
            {form->btn_exit, "E&xit", QKeySequence(Qt::ALT | Qt::Key_X), true}};
        for (const auto &b : buttons) {
            QCOMPARE(b.button->text(), QString(b.text));
            QCOMPARE(b.button->shortcut(), b.key);
            QCOMPARE(b.button->isEnabled(), b.enabled);
        }

        const struct {
            QLabel *label;
            const char *text;
        } labels[] = {
            {form->lbl_data, "Data (x,y,point,h,uba)"},
            {form->lbl_a, "Search rectangle distance [m]"},
            {form->lbl_incr, "Increment[m]"},
            {form->lbl_n, "Minimum N points for gridding"},
            {form->lbl_cell, "Cell size"},
            {form->lbl_gridding, "Gridding method"},
            {form->lbl_out, "Output data file (x,y,point,uba, r1, r2, a, N"}};
        for (const auto &l : labels) {
            QCOMPARE(l.label->text(), QString(l.text));
        }
    }

    void ControlsSitAtTheirPlacesInTabOrder_data() {
        QTest::addColumn<QString>(
            "font_family"); // empty: the window's own font
        QTest::newRow("window font") << QString();
        // Where Tahoma is missing, a wider sans-serif font must still show
        // every label.
        QTest::newRow("wider sans-serif") << "DejaVu Sans";
    }

    void ControlsSitAtTheirPlacesInTabOrder() {
        QFETCH(QString, font_family);
        if (!font_family.isEmpty()) {
            form->setFont(QFont(font_family, 8));
        }
        const struct {
            QWidget *widget;
            QRect place;
        } places[] = {
            {form->txt_data, {8, 32, 601, 21}},
            {form->btn_data, {616, 32, 25, 25}},
            {form->txt_a, {208, 59, 121, 21}},
            {form->txt_incr, {489, 59, 121, 21}},
            {form->txt_n, {208, 86, 121, 21}},
            {form->txt_cell, {208, 109, 121, 21}},
            {form->cb_gridding, {208, 136, 217, 21}},
            {form->txt_out, {8, 187, 601, 21}},
            {form->btn_out, {615, 182, 25, 25}},
            {form->ProgressBar1, {8, 224, 632, 17}},
            {form->btn_stop, {403, 256, 75, 25}},
            {form->btn_calc, {484, 256, 75, 25}},
            {form->btn_exit, {565, 256, 75, 25}},
        };
        for (const auto &p : places) {
            QCOMPARE(p.widget->geometry(), p.place);
        }

        // Labels start at their places and are at least as large as measured;
        // whatever the font, each is wide enough for its whole text and stays
        // clear of the field to its right.
        const struct {
            QLabel *label;
            QRect place;
            QWidget *right_neighbour;
        } labels[] = {{form->lbl_data, {8, 16, 110, 13}, nullptr},
                      {form->lbl_a, {8, 59, 143, 13}, form->txt_a},
                      {form->lbl_incr, {344, 64, 65, 13}, form->txt_incr},
                      {form->lbl_n, {8, 88, 140, 13}, form->txt_n},
                      {form->lbl_cell, {8, 112, 38, 13}, form->txt_cell},
                      {form->lbl_gridding, {8, 136, 78, 13}, form->cb_gridding},
                      {form->lbl_out, {8, 168, 210, 13}, nullptr}};
        for (const auto &l : labels) {
            const QRect at = l.label->geometry();
            QCOMPARE(at.topLeft(), l.place.topLeft());
            QVERIFY(at.width() >= l.place.width() &&
                    at.height() >= l.place.height());
            QVERIFY2(at.width() >= l.label->sizeHint().width(),
                     qPrintable(l.label->text()));
            QVERIFY2(at.height() >= l.label->sizeHint().height(),
                     qPrintable(l.label->text()));
            if (l.right_neighbour != nullptr) {
                QVERIFY2(at.right() < l.right_neighbour->x(),
                         qPrintable(l.label->text()));
            }
        }

        // The focus chain visits the controls that take focus in this order.
        const QList<QWidget *> expected = {
            form->txt_data,    form->txt_a,    form->txt_n,    form->txt_cell,
            form->cb_gridding, form->btn_data, form->txt_out,  form->btn_out,
            form->btn_exit,    form->btn_calc, form->txt_incr, form->btn_stop};
        QList<QWidget *> order;
        QWidget *w = form->txt_data;
        for (int step = 0; step < 100 && order.size() < expected.size();
             ++step) {
            if (expected.contains(w)) {
                order << w;
            }
            w = w->nextInFocusChain();
        }
        QCOMPARE(order, expected);
        QCOMPARE(form->ProgressBar1->focusPolicy(), Qt::NoFocus);
    }

    void ButtonsFollowIdleAndRunningStates() {
        form->SetRunning(true);
        QVERIFY(!form->btn_calc->isEnabled());
        QVERIFY(!form->btn_exit->isEnabled());
        QVERIFY(form->btn_stop->isEnabled());
        form->SetRunning(false);
        VerifyIdle();
        // Stop only raises the flag; the run clears it when it starts.
        form->btn_stopClick();
        QVERIFY(form->StopRequested());
        form->ClearStopRequest();
        QVERIFY(!form->stop_requested);
    }

    void InputChooserProposesTheResultPath_data() {
        QTest::addColumn<QString>("chosen");
        QTest::addColumn<QString>("proposed");
        QTest::newRow("extension") << "/data/survey.xyz"
                                   << "/data/survey_res.dat";
        QTest::newRow("no extension") << "/data/survey"
                                      << "/data/survey_res.dat";
        QTest::newRow("dot in a folder") << "/data.old/survey"
                                         << "/data.old/survey_res.dat";
        QTest::newRow("last dot counts") << "/survey/stations.2024.dat"
                                         << "/survey/stations.2024_res.dat";
    }

    void InputChooserProposesTheResultPath() {
        QFETCH(QString, chosen);
        QFETCH(QString, proposed);
        next_choice = chosen;
        form->btn_data->click();
        QCOMPARE(choosers_run.size(), 1);
        QCOMPARE(
            choosers_run[0].title,
            QString("Path for data file - select any *.xyz or *.dat file"));
        QVERIFY(!choosers_run[0].for_writing);
        QCOMPARE(form->txt_data->text(), chosen);
        QCOMPARE(form->txt_out->text(), proposed);
    }

    void CancelledOrOutputChooserLeavesOtherFields() {
        form->txt_data->setText("/keep/me.dat");
        form->txt_out->setText("/keep/me_res.dat");
        next_choice.clear(); // cancelled
        form->btn_data->click();
        form->btn_out->click();
        QCOMPARE(form->txt_data->text(), QString("/keep/me.dat"));
        QCOMPARE(form->txt_out->text(), QString("/keep/me_res.dat"));

        next_choice = "/results/new.dat";
        form->btn_out->click();
        QCOMPARE(choosers_run.size(), 3);
        QCOMPARE(choosers_run[2].title, QString("Name of output data file"));
        QVERIFY(choosers_run[2].for_writing);
        QCOMPARE(form->txt_out->text(), QString("/results/new.dat"));
        QCOMPARE(form->txt_data->text(), QString("/keep/me.dat"));
    }

    void ChoosersOpenInTheCurrentFolderWithTheirFilters() {
        const QString here = dir->path();
        const QString previous = QDir::currentPath();
        QDir::setCurrent(here);
        TFileChooser input(TForm1::DataChooser(), form.get());
        TFileChooser output(TForm1::OutputChooser(), form.get());
        QDir::setCurrent(previous);

        QCOMPARE(
            input.windowTitle(),
            QString("Path for data file - select any *.xyz or *.dat file"));
        QCOMPARE(input.nameFilters(),
                 (QStringList{"Data file - x,y,point,h (*)",
                              "Survey tables and GIS layers (*.csv *.tsv "
                              "*.txt *.xlsx *.ods *.gpkg *.shp *.geojson "
                              "*.json *.fgb)"}));
        QCOMPARE(input.defaultSuffix(), QString("dat"));
        QCOMPARE(input.fileMode(), QFileDialog::ExistingFile);
        QCOMPARE(input.acceptMode(), QFileDialog::AcceptOpen);
        QCOMPARE(QFileInfo(input.directory().absolutePath()), QFileInfo(here));

        QCOMPARE(output.windowTitle(), QString("Name of output data file"));
        QCOMPARE(output.nameFilters(),
                 QStringList{"Surfer Data file - fi, lambda (*.dat)"});
        QCOMPARE(output.defaultSuffix(), QString("dat"));
        QCOMPARE(output.fileMode(),
                 QFileDialog::AnyFile); // a new file may be named
        QCOMPARE(output.acceptMode(), QFileDialog::AcceptSave);
        QVERIFY(output.testOption(QFileDialog::DontConfirmOverwrite));
        QCOMPARE(QFileInfo(output.directory().absolutePath()), QFileInfo(here));
    }

    void ChoosersAddTheExtensionOnlyWhereItIsMissing_data() {
        QTest::addColumn<bool>("for_writing");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("chosen");
        QTest::newRow("existing file without extension") << false << "plain"
                                                         << "plain";
        QTest::newRow("typed name of a .dat file") << false << "survey"
                                                   << "survey.dat";
        QTest::newRow("new result file") << true << "fresh"
                                         << "fresh.dat";
        QTest::newRow("new result file with extension") << true << "fresh.txt"
                                                        << "fresh.txt";
    }

    void ChoosersAddTheExtensionOnlyWhereItIsMissing() {
        QFETCH(bool, for_writing);
        QFETCH(QString, typed);
        QFETCH(QString, chosen);
        Write("plain", "1 2 A 3 4\n");
        Write("survey.dat", "1 2 A 3 4\n");
        TFileChooserSpec spec =
            for_writing ? TForm1::OutputChooser() : TForm1::DataChooser();
        TFileChooser chooser(spec, form.get());
        chooser.setDirectory(dir->path());
        chooser.open();
        chooser.selectFile(dir->filePath(typed));
        chooser.accept();
        QCOMPARE(chooser.result(), int(QDialog::Accepted));
        QCOMPARE(chooser.ChosenPath(), dir->filePath(chosen));
    }

    void CalcWritesTheResultAndReturnsToIdle() {
        PrepareRun(Survey(25));
        // Seen from inside the run, at the first step of the progress bar.
        bool running_seen = false;
        connect(form->ProgressBar1, &QProgressBar::valueChanged, form.get(),
                [this, &running_seen](int value) {
                    if (value == 1) {
                        // The buttons switch; the fields and choosers stay
                        // usable for the next run.
                        running_seen = !form->btn_calc->isEnabled() &&
                                       !form->btn_exit->isEnabled() &&
                                       form->btn_stop->isEnabled() &&
                                       form->txt_data->isEnabled() &&
                                       form->btn_data->isEnabled() &&
                                       form->btn_out->isEnabled();
                    }
                });
        form->show();
        form->btn_calc->click();

        QVERIFY(running_seen);
        QCOMPARE(int(form->last_result), int(CalcResult::Completed));
        QCOMPARE(form->last_loaded, 25);
        QCOMPARE(form->last_done, 25);
        // 25 stations: ceil(25 / 10) steps, and the position ends at 25 / 10.
        QCOMPARE(form->ProgressBar1->maximum(), 3);
        QCOMPARE(form->ProgressBar1->value(), 2);
        const QList<QByteArray> lines =
            ReadFile(form->txt_out->text()).split('\n');
        QCOMPARE(
            lines.size(),
            27); // header, 25 stations, empty text after the last end of line
        QVERIFY(lines[0].contains("r2[mGal]"));
        QVERIFY(lines[25].contains("P25"));
        QVERIFY(messages.isEmpty());
        QVERIFY(errors.isEmpty());
        VerifyIdle();
        QVERIFY(form->isVisible());
    }

    void StopDuringTheSecondPassEndsAfterTheStationInHand_data() {
        QTest::addColumn<bool>("by_closing");
        QTest::newRow("Stop button") << false;
        QTest::newRow("window closed by its title bar") << true;
    }

    void StopDuringTheSecondPassEndsAfterTheStationInHand() {
        QFETCH(bool, by_closing);
        PrepareRun(Survey(30));
        bool visible_after_close = false;
        // At the tenth station; the request is queued, so it only arrives if
        // the run handles pending events between stations.
        connect(form->ProgressBar1, &QProgressBar::valueChanged, form.get(),
                [&](int value) {
                    if (value != 1) {
                        return;
                    }
                    if (by_closing) {
                        QTimer::singleShot(0, form.get(), [&] {
                            form->close();
                            visible_after_close = form->isVisible();
                        });
                    } else {
                        QTimer::singleShot(0, form->btn_stop,
                                           &QPushButton::click);
                    }
                });
        form->show();
        form->btn_calc->click();

        QCOMPARE(int(form->last_result), int(CalcResult::Stopped));
        QCOMPARE(form->last_done, 10);
        QCOMPARE(form->ProgressBar1->value(), 1);
        const QByteArray result = ReadFile(form->txt_out->text());
        QCOMPARE(result.count('\n'),
                 11); // header and the ten stations, file complete
        QVERIFY(result.contains("P10 "));
        QVERIFY(!result.contains("P11 "));
        VerifyIdle();
        if (by_closing) {
            QVERIFY(visible_after_close); // the window waited for the run's end
        }
        QCOMPARE(form->isVisible(), !by_closing);
        QVERIFY(errors.isEmpty());
    }

    // 2026-12-10, issue 14: the window closed itself after this message.
    void UnopenableResultFileSaysWhyAndKeepsTheWindow() {
        PrepareRun(Survey(5));
        const QString out = dir->filePath("missing/folder/result.dat");
        form->txt_out->setText(out);
        form->txt_a->setText("3000");
        form->show();
        form->btn_calc->click();

        QCOMPARE(messages, QStringList{"Error by opening file " + out +
                                       ": No such file or directory"});
        QVERIFY(errors.isEmpty());
        QCOMPARE(int(form->last_result), int(CalcResult::OpenFailed));
        QVERIFY(form->isVisible());
        // What was typed is still there for the next try.
        QCOMPARE(form->txt_out->text(), out);
        QCOMPARE(form->txt_a->text(), QString("3000"));
        VerifyIdle();
    }

    // 2026-12-10, issue 14: runs that read or estimated nothing ended in
    // silence, and an earlier result was replaced.
    void RunsThatGiveNothingSayWhyAndKeepTheEarlierResult_data() {
        QTest::addColumn<QByteArray>("survey");
        QTest::addColumn<QString>("n");
        QTest::addColumn<QString>("error");
        QTest::addColumn<bool>("written");
        QTest::newRow("numbers with a comma under a point")
            << QByteArray("500000,5 5500000,5 P1 350 1,5\n") << "4"
            << "No line of %1 was read as a station" << false;
        QTest::newRow("empty file") << QByteArray() << "4"
                                    << "%1 holds no station" << false;
        QTest::newRow("stations further apart than the search distance")
            << QByteArray("0 0 A 1 1\n5000 0 B 1 2\n10000 0 C 1 3\n"
                          "0 5000 D 1 4\n5000 5000 E 1 5\n10000 5000 F 1 6\n"
                          "0 10000 G 1 7\n")
            << "4"
            << "No station has a leave-one-out estimate. The search "
               "distance (2500 m)"
            << false;
    }

    void RunsThatGiveNothingSayWhyAndKeepTheEarlierResult() {
        QFETCH(QByteArray, survey);
        QFETCH(QString, n);
        QFETCH(QString, error);
        QFETCH(bool, written);
        PrepareRun(survey);
        form->txt_n->setText(n);
        Write("result.dat", "an earlier result\r\n");
        answers << true; // replace it, should the run get that far
        form->show();
        form->btn_calc->click();

        QCOMPARE(errors.size(), 1);
        const QString expected = error.arg(form->txt_data->text());
        QVERIFY2(errors[0].startsWith(expected), qPrintable(errors[0]));
        QCOMPARE(ReadFile(form->txt_out->text()) == "an earlier result\r\n",
                 !written);
        QVERIFY(form->isVisible());
        VerifyIdle();
    }

    // 2026-12-10, issue 18: a new path typed into the Data field left the
    // Output field on the earlier survey's result.
    void OutputFollowsTheDataUntilTheUserTypesIt() {
        form->txt_data->setText("/surveys/one.dat");
        QCOMPARE(form->txt_out->text(), QString("/surveys/one_res.dat"));
        form->txt_data->setText("/surveys/two.csv");
        QCOMPARE(form->txt_out->text(), QString("/surveys/two_res.dat"));
        form->txt_out->setText("/results/mine.dat"); // the user's own
        form->txt_data->setText("/surveys/three.dat");
        QCOMPARE(form->txt_out->text(), QString("/results/mine.dat"));
        form->txt_out->clear();
        form->txt_data->setText("/surveys/four.dat");
        QCOMPARE(form->txt_out->text(), QString("/surveys/four_res.dat"));
        // The chooser proposes whatever the field held.
        form->txt_out->setText("/results/mine.dat");
        next_choice = dir->filePath("five.xyz");
        form->btn_data->click();
        QCOMPARE(form->txt_out->text(), dir->filePath("five_res.dat"));
    }

    // 2026-12-10, issue 18: a run replaced the result of another survey
    // without a word.
    void ResultOfAnotherSurveyIsReplacedOnlyWhenTheUserSaysSo() {
        PrepareRun(Survey(12));
        form->btn_calc->click();
        QVERIFY(questions.isEmpty()); // no earlier result
        const QByteArray first = ReadFile(form->txt_out->text());
        form->btn_calc->click();
        QVERIFY(questions.isEmpty()); // the same survey's result
        // Another survey, 50 km away, for the same result file.
        QByteArray other = Survey(12).replace(" 55", " 56");
        form->txt_data->setText(Write("other.dat", other));
        form->txt_out->setText(dir->filePath("result.dat"));
        form->btn_calc->click();
        QCOMPARE(questions.size(), 1);
        QVERIFY2(questions[0].contains("another station file"),
                 qPrintable(questions[0]));
        QCOMPARE(ReadFile(form->txt_out->text()), first);
        VerifyIdle();
        answers << true;
        form->btn_calc->click();
        QCOMPARE(questions.size(), 2);
        QVERIFY(ReadFile(form->txt_out->text()).contains(" 5600000.000 "));
    }

    // 2026-12-10, issue 18: a stopped run replaced a complete result.
    void StoppedRunAsksWhetherToKeepThePartialResult() {
        PrepareRun(Survey(30));
        form->btn_calc->click();
        const QByteArray complete = ReadFile(form->txt_out->text());
        connect(form->ProgressBar1, &QProgressBar::valueChanged, form.get(),
                [this](int value) {
                    if (value == 1) {
                        QTimer::singleShot(0, form->btn_stop,
                                           &QPushButton::click);
                    }
                });
        form->btn_calc->click(); // keeps the earlier result
        QCOMPARE(int(form->last_result), int(CalcResult::Stopped));
        QCOMPARE(questions.size(), 1);
        QVERIFY2(questions[0].contains("stopped after 10 of 30 stations"),
                 qPrintable(questions[0]));
        QCOMPARE(ReadFile(form->txt_out->text()), complete);
        answers << true; // keeps the partial one
        form->btn_calc->click();
        QCOMPARE(ReadFile(form->txt_out->text()).count('\n'), 11);
        // The companion table lists the rest as not reached.
        const QByteArray table = ReadFile(dir->filePath("result.csv"));
        QCOMPARE(table.count(",not-reached,"), 20);
    }

    void EmptyResultFieldTakesTheProposedPath() {
        PrepareRun(Survey(12));
        form->txt_out->clear();
        form->btn_calc->click();
        QCOMPARE(form->txt_out->text(), dir->filePath("survey_res.dat"));
        QCOMPARE(int(form->last_result), int(CalcResult::Completed));
        QVERIFY(ReadFile(dir->filePath("survey_res.dat")).contains("P12 "));
    }

    void ProgressCountsStationsOfTheTotalAndJobsAreTheBatchDefault() {
        QCOMPARE(form->jobs, DefaultJobs());
        PrepareRun(Survey(25));
        form->jobs = 2;
        form->btn_calc->click();
        QVERIFY(form->ProgressBar1->isTextVisible());
        QCOMPARE(form->ProgressBar1->text(), QString("25 of 25 stations"));
        const QByteArray two_jobs = ReadFile(form->txt_out->text());
        form->jobs = 1;
        form->btn_calc->click();
        QCOMPARE(ReadFile(form->txt_out->text()), two_jobs);
    }

    // 2026-12-10, issue 14: Stop did nothing while the stations loaded.
    void StopWhileTheStationsLoadWritesNothing() {
        PrepareRun(Survey(9000));
        Write("result.dat", "an earlier result\r\n");
        // Pressed at the first chance the run gives the window.
        QTimer::singleShot(0, form->btn_stop, &QPushButton::click);
        form->show();
        form->btn_calc->click();
        QCOMPARE(int(form->last_result), int(CalcResult::Stopped));
        QVERIFY(form->last_loaded < 9000);
        QCOMPARE(form->last_done, 0);
        QCOMPARE(ReadFile(form->txt_out->text()),
                 QByteArray("an earlier result\r\n"));
        VerifyIdle();
    }

    void CellSizeZeroShowsOneMessageAndWritesNothing() {
        PrepareRun(Survey(12));
        form->txt_cell->setText("0");
        form->btn_calc->click();

        QCOMPARE(messages, QStringList{"Cell size must be defined."});
        QVERIFY(errors.isEmpty());
        QVERIFY(!QFileInfo::exists(form->txt_out->text()));
        VerifyIdle();
    }

    void RunErrorsShowTheErrorBoxAndReturnToIdle_data() {
        QTest::addColumn<QByteArray>("survey");
        QTest::addColumn<bool>("file_missing");
        QTest::addColumn<QString>("field_text"); // put into txt_n
        QTest::addColumn<QString>("message"); // how the error box's text starts
        QTest::newRow("station file not UTF-8")
            << QByteArray("500000 5500000 P\xE9 350 1.0\n") << false << "4"
            << "Line 1 of %1 is not UTF-8 text.\nNo mapping for the Unicode "
               "character exists in the target multi-byte code page";
        QTest::newRow("N not an integer")
            << Survey(5) << false << "4.5"
            << "'4.5' is not a valid integer value";
        QTest::newRow("station file missing") << Survey(5) << true << "4"
                                              << "Cannot open file \"%1\"";
    }

    void RunErrorsShowTheErrorBoxAndReturnToIdle() {
        QFETCH(QByteArray, survey);
        QFETCH(bool, file_missing);
        QFETCH(QString, field_text);
        QFETCH(QString, message);
        PrepareRun(survey);
        if (file_missing) {
            form->txt_data->setText(dir->filePath("absent.dat"));
        }
        if (message.contains("%1")) {
            message = message.arg(form->txt_data->text());
        }
        form->txt_n->setText(field_text);
        form->show();
        form->btn_calc->click();

        QCOMPARE(errors.size(), 1);
        QVERIFY2(errors[0].startsWith(message), qPrintable(errors[0]));
        QVERIFY(messages.isEmpty());
        QVERIFY(!QFileInfo::exists(
            form->txt_out->text())); // ended before the result file
        QCOMPARE(int(form->last_result), int(CalcResult::Failed));
        QVERIFY(form->isVisible());
        VerifyIdle();
        // The run's database was closed: the next run starts afresh.
        PrepareRun(Survey(12));
        form->btn_calc->click();
        QCOMPARE(int(form->last_result), int(CalcResult::Completed));
    }

    void ErrorEscapingAHandlerShowsTheErrorBoxAndTheLoopGoesOn() {
        auto *application =
            static_cast<TApplication *>(QCoreApplication::instance());
        const auto previous = application->present_error;
        QStringList shown;
        application->present_error = [&shown](const QString &text) {
            shown << text;
        };
        bool later_event_handled = false;
        QTimer::singleShot(0, [] { throw std::runtime_error("Disk full"); });
        QTimer::singleShot(0, [] { throw 42; });
        QTimer::singleShot(
            1, [&later_event_handled] { later_event_handled = true; });
        QTRY_VERIFY(later_event_handled);
        application->present_error = previous;
        QCOMPARE(shown,
                 (QStringList{"Disk full", "An unknown error occurred."}));
    }

    void PlatformMessagesOpenAModalBoxWithOk_data() {
        QTest::addColumn<bool>("as_error");
        QTest::newRow("message") << false;
        QTest::newRow("error") << true;
    }

    void PlatformMessagesOpenAModalBoxWithOk() {
        QFETCH(bool, as_error);
        form->show();
        QString text, caption;
        bool only_ok = false;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        // Reads the box while it is up, then presses OK.
        QTimer::singleShot(0, [&] {
            QMessageBox *box = nullptr;
            for (QWidget *w : QApplication::topLevelWidgets()) {
                if (auto *b = qobject_cast<QMessageBox *>(w);
                    b != nullptr && b->isVisible()) {
                    box = b;
                }
            }
            if (box == nullptr) {
                // Not a message box: close whatever modal window came up, so
                // the comparisons below fail instead of the test hanging.
                if (QWidget *modal = QApplication::activeModalWidget()) {
                    modal->close();
                }
                return;
            }
            text = box->text();
            caption = box->windowTitle();
            icon = box->icon();
            only_ok = box->buttons().size() == 1 &&
                      box->button(QMessageBox::Ok) != nullptr;
            box->button(QMessageBox::Ok)->click();
        });
        if (as_error) {
            ShowErrorBox(form.get(), "Disk full");
        } else {
            const MessageHandler previous = SetMessageHandler({});
            InstallMessageBoxHandler();
            ::ShowMessage("Cell size must be defined.");
            SetMessageHandler(previous);
        }
        QCOMPARE(text, QString(as_error ? "Disk full"
                                        : "Cell size must be defined."));
        QCOMPARE(caption, QString("Korvanel"));
        QVERIFY(only_ok);
        QCOMPARE(icon, as_error ? QMessageBox::Critical : QMessageBox::NoIcon);
    }

    void TablesAreReadAndTheirColumnsChosenWhenNotRecognised() {
        PrepareRun(Survey(30));
        form->btn_calc->click();
        const QByteArray from_station_file = ReadFile(form->txt_out->text());
        QVERIFY(!from_station_file.isEmpty());

        // The same survey as tables: point, value, h, y, x.
        const QList<QByteArray> lines = Survey(30).trimmed().split('\n');
        auto table = [&lines](const QByteArray &header, char separator) {
            QByteArray text = header + '\n';
            for (qsizetype k = 1; k < lines.size(); ++k) {
                const QList<QByteArray> f = lines[k].split(' ');
                text += f[2] + separator + f[4] + separator + f[3] +
                        separator + f[1] + separator + f[0] + '\n';
            }
            return text;
        };
        int asked = 0;
        ColumnRequest seen;
        bool accept = true;
        // The tables below hold point, value, h, y, x in this order.
        form->choose_columns = [&](ColumnRequest &request) {
            ++asked;
            seen = request;
            const ColumnRole order[] = {ColumnRole::Point, ColumnRole::Value,
                                        ColumnRole::H, ColumnRole::Y,
                                        ColumnRole::X};
            for (size_t k = 0; k < std::size(order); ++k) {
                request.columns.field[int(order[k])] = request.fields.at(k);
            }
            return accept;
        };

        // Recognised names: read without a question.
        form->txt_data->setText(
            Write("named.csv", table("Station,CBA,Elevation,Northing,Easting",
                                     ',')));
        form->btn_calc->click();
        QCOMPARE(asked, 0);
        QCOMPARE(ReadFile(form->txt_out->text()), from_station_file);
        QVERIFY(form->results_window->lbl_summary->text().contains(
            "x = Easting, y = Northing"));

        // Names it does not know: the dialog lists the fields, once per file.
        form->txt_data->setText(
            Write("plain.csv", table("c1;c2;c3;c4;c5", ';')));
        QFile::remove(form->txt_out->text());
        form->btn_calc->click();
        QCOMPARE(asked, 1);
        QCOMPARE(seen.fields,
                 (std::vector<std::string>{"c1", "c2", "c3", "c4", "c5"}));
        QVERIFY(seen.file == "plain.csv");
        QCOMPARE(ReadFile(form->txt_out->text()), from_station_file);
        form->btn_calc->click();
        QCOMPARE(asked, 1);

        // Names it takes two ways (two anomaly columns): asked as well, with
        // the reason.
        form->txt_data->setText(Write(
            "twice.csv", table("Station,CBA,Bouguer,Northing,Easting", ',')));
        QFile::remove(form->txt_out->text());
        form->btn_calc->click();
        QCOMPARE(asked, 2);
        QCOMPARE(seen.fields, (std::vector<std::string>{
                                  "Station", "CBA", "Bouguer", "Northing",
                                  "Easting"}));
        QVERIFY(seen.reason.contains("CBA"));
        QVERIFY(seen.reason.contains("Bouguer"));
        QCOMPARE(ReadFile(form->txt_out->text()), from_station_file);

        // A cancelled dialog runs nothing and says nothing.
        form->txt_data->setText(
            Write("other.csv", table("c1;c2;c3;c4;c5", ';')));
        QFile::remove(form->txt_out->text());
        accept = false;
        form->btn_calc->click();
        QCOMPARE(asked, 3);
        QVERIFY(!QFile::exists(form->txt_out->text()));
        QVERIFY(errors.isEmpty());
        VerifyIdle();
    }

    void ColumnDialogOffersTheFieldsAndWantsXYAndValue() {
        ColumnRequest request;
        request.file = "plain.csv";
        request.reason = "Choose.";
        request.fields = {"a", "b", "c"};
        request.columns.field[int(ColumnRole::X)] = "b"; // an earlier choice
        TColumnDialog dialog(request);
        QPushButton *ok = dialog.buttons->button(QDialogButtonBox::Ok);
        QVERIFY(dialog.windowTitle().startsWith("Korvanel columns"));
        QCOMPARE(dialog.cb_role[int(ColumnRole::X)]->currentText(),
                 QString("b"));
        QCOMPARE(dialog.cb_role[int(ColumnRole::Y)]->count(), 4);
        QVERIFY(!ok->isEnabled()); // y and value not chosen
        dialog.cb_role[int(ColumnRole::Y)]->setCurrentIndex(1);     // a
        dialog.cb_role[int(ColumnRole::Value)]->setCurrentIndex(2); // b again
        QVERIFY(!ok->isEnabled());
        dialog.cb_role[int(ColumnRole::Value)]->setCurrentIndex(3); // c
        QVERIFY(ok->isEnabled());
        dialog.chk_degrees->setChecked(true);
        dialog.txt_crs->setText(" EPSG:4326 ");
        dialog.TakeChoice(request);
        QCOMPARE(request.columns.field[int(ColumnRole::Y)], std::string("a"));
        QCOMPARE(request.columns.field[int(ColumnRole::Value)],
                 std::string("c"));
        QVERIFY(request.columns.field[int(ColumnRole::Point)].empty());
        QVERIFY(request.columns.geographic);
        QCOMPARE(request.source_crs, std::string("EPSG:4326"));
    }

    void ResultsWindowOpensAfterACalcThatEstimatedStations_data() {
        QTest::addColumn<bool>("stopped");
        QTest::newRow("completed") << false;
        QTest::newRow("stopped") << true;
    }

    void ResultsWindowOpensAfterACalcThatEstimatedStations() {
        QFETCH(bool, stopped);
        PrepareRun(Survey(30));
        if (stopped) {
            connect(form->ProgressBar1, &QProgressBar::valueChanged, form.get(),
                    [this](int value) {
                        if (value == 1) {
                            QTimer::singleShot(0, form->btn_stop,
                                               &QPushButton::click);
                        }
                    });
        }
        form->show();
        form->btn_calc->click();
        QVERIFY(form->results_window != nullptr);
        TResultsWindow *results = form->results_window.get();
        QVERIFY(results->isVisible());
        QVERIFY(!results->isModal());
        QVERIFY(results->windowTitle().startsWith("Korvanel results"));
        QVERIFY(results->windowTitle().contains("survey.dat"));
        // A stopped run lists the stations it did not reach, as such.
        QCOMPARE(results->Model().Size(), size_t(30));
        QCOMPARE(results->Model().Counts().not_reached,
                 int64_t(stopped ? 20 : 0));
        QCOMPARE(results->stations_table->model()->rowCount(), 30);
        // On the screen, beside the main window where the screen has room
        // for both; the main window as it was.
        const QRect room =
            QGuiApplication::primaryScreen()->availableGeometry();
        QVERIFY(room.contains(results->geometry().topLeft()));
        if (room.width() >= form->frameGeometry().width() +
                                results->frameGeometry().width() + 8) {
            QVERIFY(
                !results->frameGeometry().intersects(form->frameGeometry()));
        }
        QCOMPARE(form->size(), QSize(650, 293));
        QVERIFY(form->isVisible());

        // The next run's window replaces it.
        QPointer<TResultsWindow> earlier = results;
        form->btn_calc->click();
        QVERIFY(earlier.isNull());
        QVERIFY(form->results_window != nullptr);
        // A run that was refused opens none, and leaves the last one.
        results = form->results_window.get();
        form->txt_cell->setText("0");
        form->btn_calc->click();
        QCOMPARE(form->results_window.get(), results);
        // Closing the main window closes the results too.
        form->close();
        QVERIFY(!results->isVisible());
    }

    void ChoosingARowOrAStationSelectsItInTheOtherPlace() {
        PrepareRun(Survey(30));
        form->btn_calc->click();
        TResultsWindow *results = form->results_window.get();
        QVERIFY(results != nullptr);
        QVERIFY(QTest::qWaitForWindowExposed(results));
        const TQcStations &stations = results->Model().Stations();
        auto *rows =
            static_cast<TStationTableModel *>(results->stations_table->model());

        // A click on the fourth row of all stations: its station is chosen,
        // highlighted and in the middle of the map.
        QTableView *table = results->stations_table;
        const QModelIndex index = rows->index(3, 0);
        QTest::mouseClick(table->viewport(), Qt::LeftButton, {},
                          table->visualRect(index).center());
        const size_t k = rows->StationAt(3);
        QCOMPARE(results->SelectedStation(), int64_t(k));
        QCOMPARE(results->map->SelectedStation(), int64_t(k));
        const TMapView &view = results->map->View();
        QCOMPARE(view.CentreX(), stations[k].x);
        QCOMPARE(view.CentreY(), stations[k].y);

        // A click on another station's dot on the map selects its row.
        const size_t other = k == 0 ? 1 : 0;
        const QPointF at = view.ToPixel(stations[other].x, stations[other].y);
        QTest::mouseClick(results->map, Qt::LeftButton, {}, at.toPoint());
        QCOMPARE(results->SelectedStation(), int64_t(other));
        QCOMPARE(table->currentIndex().row(), rows->RowOf(other));
        QCOMPARE(rows->StationAt(table->currentIndex().row()), other);

        // Sorted by another column, the chosen row follows its station.
        table->sortByColumn(TStationTableModel::Name, Qt::AscendingOrder);
        QCOMPARE(rows->StationAt(table->currentIndex().row()), other);
        QCOMPARE(results->SelectedStation(), int64_t(other));
        results->SelectStation(int64_t(k));
        QCOMPARE(rows->StationAt(table->currentIndex().row()), k);
    }

    void ResultsSaveThePictureAndOpenTheTable() {
        PrepareRun(Survey(30));
        form->btn_calc->click();
        TResultsWindow *results = form->results_window.get();
        QVERIFY(results != nullptr);
        QStringList shown;
        QList<QUrl> opened;
        QString chosen;
        results->present_error = [&shown](const QString &text) {
            shown << text;
        };
        results->open_url = [&opened](const QUrl &url) {
            opened << url;
            return true;
        };
        results->choose_file = [&chosen](const TFileChooserSpec &spec) {
            return spec.for_writing ? chosen : QString();
        };

        chosen = dir->filePath("figure.png");
        results->btn_save->click();
        QCOMPARE(QImage(chosen).size(), QSize(1600, 1000));
        chosen = dir->filePath("figure.svg");
        results->btn_save->click();
        QVERIFY(ReadFile(chosen).contains("<svg"));
        QVERIFY(shown.isEmpty());
        chosen = dir->filePath("figure.bmp");
        results->btn_save->click();
        QCOMPARE(shown.size(), 1);
        QVERIFY2(shown[0].contains(".png or .svg"), qPrintable(shown[0]));
        QVERIFY(!QFileInfo::exists(chosen));

        QVERIFY(results->btn_open_table->isEnabled());
        results->btn_open_table->click();
        QCOMPARE(opened,
                 QList<QUrl>{QUrl::fromLocalFile(dir->filePath("result.csv"))});
        QVERIFY(QFileInfo::exists(dir->filePath("result.csv")));
    }

    // A suspect's cause and fix are in its row, and on the map beside its
    // name; a picture of the results is left for a person to look at.
    void ResultsShowCausesAndFixes() {
        QByteArray survey = Survey(100);
        // P46's value (3.8 at column 5, row 4) lost its sign.
        survey.replace(" P46 350 3.800\n", " P46 350 -3.800\n");
        PrepareRun(survey);
        form->btn_calc->click();
        TResultsWindow *results = form->results_window.get();
        QVERIFY(results != nullptr);
        auto *rows =
            static_cast<TStationTableModel *>(results->suspects_table->model());
        QVERIFY(rows->rowCount() >= 1);
        const int row = rows->RowOf(45);
        QVERIFY(row >= 0);
        QCOMPARE(rows->index(row, TStationTableModel::Cause).data().toString(),
                 QString("sign"));
        QCOMPARE(rows->index(row, TStationTableModel::Fix).data().toString(),
                 QString("3.800"));
        QCOMPARE(results->Model().Label(45), std::string("P46 sign"));
        results->resize(1600, 1000);
        QVERIFY(QTest::qWaitForWindowExposed(results));
        QVERIFY(results->grab().save(KORVANEL_RESULTS_PICTURE, "PNG"));
    }

    // Walks the suspects' list with the keyboard to station `name` (from
    // its first row, as a user would).
    bool GoTo(TResultsWindow *results, const char *name) {
        QTableView *list = results->suspects_table;
        const auto *rows = static_cast<TStationTableModel *>(list->model());
        const int64_t k = IndexOf(results->Model().Stations(), name);
        list->setFocus();
        QTest::keyClick(list, Qt::Key_Home, Qt::ControlModifier);
        for (int row = 0; row < rows->rowCount(); ++row) {
            if (results->SelectedStation() == k) {
                return true;
            }
            QTest::keyClick(list, Qt::Key_Down);
        }
        return results->SelectedStation() == k;
    }

    TResultsWindow *OpenReview() {
        form->btn_calc->click();
        TResultsWindow *results = form->results_window.get();
        if (results == nullptr) {
            return nullptr;
        }
        results->present_error = [this](const QString &text) {
            errors << text;
        };
        results->resize(1600, 1000);
        results->show();
        results->activateWindow();
        return QTest::qWaitForWindowActive(results) ? results : nullptr;
    }

    // The suspects of a survey with planted blunders decided on by keyboard,
    // with undo and redo; Recalculate clears them, the batch tool gives the
    // same result with the review file, and a new window reads it back.
    void ReviewDecidesByKeyboardRecalculatesAndReadsBack() {
        PrepareRun(BlunderedSurvey());
        TResultsWindow *results = OpenReview();
        QVERIFY(results != nullptr);
        QTableView *list = results->suspects_table;
        auto *rows = static_cast<TStationTableModel *>(list->model());
        const TQcStations *stations = &results->Model().Stations();
        const size_t suspects = results->Results().findings.suspects.suspects.size();
        for (const char *name : {"P46", "P23", "P78"}) {
            QVERIFY2(rows->RowOf(size_t(IndexOf(*stations, name))) >= 0, name);
        }
        // At 1600 x 1000 the list has room for 15 rows at least.
        QVERIFY2(list->viewport()->height() / 20 >= 15,
                 qPrintable(QString::number(list->viewport()->height())));
        const QString review = dir->filePath("result_review.csv");
        QCOMPARE(results->ReviewPath(), review.toStdString());
        QVERIFY(!QFileInfo::exists(review));

        // Down the list: the map centres on each station in turn.
        list->setFocus();
        QTest::keyClick(list, Qt::Key_Home, Qt::ControlModifier);
        for (int row = 1; row < 3; ++row) {
            QTest::keyClick(list, Qt::Key_Down);
            const size_t k = rows->StationAt(row);
            QCOMPARE(results->SelectedStation(), int64_t(k));
            QCOMPARE(results->map->View().CentreX(), (*stations)[k].x);
            QCOMPARE(results->map->View().CentreY(), (*stations)[k].y);
        }

        // F takes the proposed fix, R rejects, K keeps; N goes to the note.
        QVERIFY(GoTo(results, "P46"));
        QTest::keyClick(results->suspects_table, Qt::Key_F);
        QVERIFY(GoTo(results, "P23"));
        const QImage unmarked = results->map->grab().toImage();
        QTest::keyClick(results->suspects_table, Qt::Key_R);
        QVERIFY2(results->map->grab().toImage() != unmarked,
                 "the rejection is drawn on the map");
        QVERIFY(GoTo(results, "P78"));
        QTest::keyClick(results->suspects_table, Qt::Key_K);
        QTest::keyClick(results->suspects_table, Qt::Key_N);
        QVERIFY(results->txt_note->hasFocus());
        QTest::keyClicks(results->txt_note, "real, seen twice");
        QTest::keyClick(results->txt_note, Qt::Key_Return);
        QVERIFY(errors.isEmpty());
        const QByteArray decided =
            "scope,id,x,y,decision,value,h,note\r\n"
            "station,P46,500500,5500400,fix,3.8,,\r\n"
            "station,P23,500200,5500200,reject,,,\r\n"
            "station,P78,500700,5500700,keep,,,\"real, seen twice\"\r\n";
        QCOMPARE(ReadFile(review), decided);
        QCOMPARE(rows->index(rows->RowOf(45), TStationTableModel::Decision)
                     .data()
                     .toString(),
                 QString("fix 3.800"));
        QCOMPARE(results->CountsLine(),
                 QString("%1 suspects: 3 decided, %2 open")
                     .arg(suspects)
                     .arg(suspects - 3));

        // Undo takes back the note, then the keep; redo puts both back.
        QTest::keyClick(results->suspects_table, Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(results->Review().Of(77)->note, std::string());
        QTest::keyClick(results->suspects_table, Qt::Key_Z, Qt::ControlModifier);
        QVERIFY(results->Review().Of(77) == nullptr);
        QVERIFY(!ReadFile(review).contains("P78"));
        QTest::keyClick(results->suspects_table, Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
        QTest::keyClick(results->suspects_table, Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
        QCOMPARE(ReadFile(review), decided);

        // Recalculate: the fixed sign clears, the rejected station is left
        // out of the run and of the result file; the decisions stay.
        results->btn_recalc->click();
        QCOMPARE(form->results_window.get(), results);
        QVERIFY(results->Results().reviewed);
        QCOMPARE(results->Results().tally.rejected, int64_t(1));
        QCOMPARE(results->Results().tally.fixed, int64_t(1));
        stations = &results->Model().Stations();
        rows = static_cast<TStationTableModel *>(list->model());
        const int64_t p46 = IndexOf(*stations, "P46");
        const int64_t p23 = IndexOf(*stations, "P23");
        QVERIFY(!(*stations)[size_t(p46)].suspect);
        QCOMPARE((*stations)[size_t(p23)].status, QcStatus::Skipped);
        const struct {
            int64_t k;
            const char *decision, *change;
        } after[] = {{p46, "fix 3.800", "cleared"}, {p23, "reject", "left out"}};
        for (const auto &a : after) {
            const int row = rows->RowOf(size_t(a.k));
            QVERIFY(row >= 0);
            QCOMPARE(rows->index(row, TStationTableModel::Decision)
                         .data()
                         .toString(),
                     QString(a.decision));
            QCOMPARE(rows->index(row, TStationTableModel::Change)
                         .data()
                         .toString(),
                     QString(a.change));
        }
        QVERIFY2(results->lbl_changes->text().contains("P46"),
                 qPrintable(results->lbl_changes->text()));
        QVERIFY(results->Review().Stale().empty());
        const QByteArray result = ReadFile(dir->filePath("result.dat"));
        QVERIFY(result.contains(" P46 "));
        QVERIFY(!result.contains(" P23 "));
        QCOMPARE(ReadFile(review), decided);

        // The batch tool with the same review file writes the same result.
        QProcess batch;
        batch.start(KORVANEL_BATCH,
                    {dir->filePath("survey.dat"), "-o",
                     dir->filePath("batch.dat"), "--min-points", "4",
                     "--review", review});
        QVERIFY(batch.waitForFinished(60000));
        QVERIFY2(batch.exitCode() == 0, batch.readAllStandardError().constData());
        QCOMPARE(ReadFile(dir->filePath("batch.dat")), result);

        // A new Calc of the survey reads the decisions back, all matched.
        const QPointer<TResultsWindow> earlier = results;
        form->btn_calc->click();
        TResultsWindow *again = form->results_window.get();
        QVERIFY(again != nullptr && earlier.isNull());
        QCOMPARE(again->Review().Rows().size(), size_t(3));
        QVERIFY(again->Review().Stale().empty());
        QCOMPARE(again->Review().Of(45)->decision, Decision::Fix);
        QCOMPARE(again->Review().Of(22)->decision, Decision::Reject);
        QCOMPARE(again->Review().Of(77)->note, std::string("real, seen twice"));
        QVERIFY(again->lbl_changes->text().contains("3 decisions"));
    }

    // A fix takes the numbers typed in its fields; text that is no number
    // is refused and changes nothing.
    void FixTakesTypedNumbers() {
        PrepareRun(BlunderedSurvey());
        TResultsWindow *results = OpenReview();
        QVERIFY(results != nullptr);
        QVERIFY(GoTo(results, "P78"));
        results->txt_fix_value->setText("oops");
        results->btn_fixClick();
        QCOMPARE(errors.size(), 1);
        QVERIFY2(errors[0].contains("oops"), qPrintable(errors[0]));
        QVERIFY(results->Review().Of(77) == nullptr);
        results->txt_fix_value->setText("4.9");
        results->txt_fix_h->setText("351.5");
        QTest::keyClick(results->txt_fix_h, Qt::Key_Return);
        const ReviewRow *row = results->Review().Of(77);
        QVERIFY(row != nullptr);
        QCOMPARE(row->decision, Decision::Fix);
        QCOMPARE(row->value, 4.9);
        QCOMPARE(row->h, 351.5);
        // Nothing to fix with: said, nothing taken.
        QVERIFY(GoTo(results, "P46"));
        results->txt_fix_value->clear();
        results->txt_fix_h->clear();
        results->btn_fixClick();
        QCOMPARE(errors.size(), 2);
        QVERIFY(results->Review().Of(45) == nullptr);
        // A note without a decision is refused too.
        results->txt_note->setText("why");
        results->txt_noteReturn();
        QCOMPARE(errors.size(), 3);
        QVERIFY(results->Review().Of(45) == nullptr);
    }

    // A review file with bad rows: the window names each (file and line),
    // takes the good ones, lists the stale, and keeps the file as it was
    // before its first write.
    void BadReviewFileIsShownAndItsGoodRowsKept() {
        PrepareRun(BlunderedSurvey());
        const QByteArray text = "scope,id,x,y,decision,value,h,note\n"
                                "station,P46,500500,5500400,fix,3.8,,\n"
                                "station,P12,500100,5500100,maybe,,,\n"
                                "station,P13,500200,5500100,fix,abc,,\n"
                                "station,P46,500500,5500400,keep,,,\n"
                                "station,Q1,1,2,reject,,,\n";
        const QString review = Write("result_review.csv", text);
        TResultsWindow *results = OpenReview();
        QVERIFY(results != nullptr);
        QCOMPARE(results->Review().Rows().size(), size_t(2));
        QCOMPARE(results->Review().Of(45)->decision, Decision::Fix);
        QVERIFY(results->txt_review_notes->isVisible());
        const QString notes = results->txt_review_notes->toPlainText();
        for (const QString &line :
             {review + ":3: unknown decision 'maybe'",
              review + ":4: the value 'abc' is not a number",
              review + ":5: a second decision on P46",
              QString("station Q1 at 1, 2: reject")}) {
            QVERIFY2(notes.contains(line), qPrintable(notes));
        }
        // The list still has room for 15 rows with the notes shown.
        QVERIFY(results->suspects_table->viewport()->height() / 20 >= 15);
        // The first decision writes the file; the one read stays beside it.
        QVERIFY(GoTo(results, "P23"));
        QTest::keyClick(results->suspects_table, Qt::Key_R);
        QCOMPARE(ReadFile(review + ".before"), text);
        const QByteArray written = ReadFile(review);
        QVERIFY(written.contains("P23"));
        QVERIFY(written.contains("Q1"));
        QVERIFY(!written.contains("maybe"));
    }

    // The cleaned survey: rejected stations out, fixes in, by the
    // extension's form; never over the station file or the result.
    void SavesTheCleanedSurvey() {
        const QByteArray survey = BlunderedSurvey();
        PrepareRun(survey);
        TResultsWindow *results = OpenReview();
        QVERIFY(results != nullptr);
        QVERIFY(GoTo(results, "P46"));
        QTest::keyClick(results->suspects_table, Qt::Key_F);
        QVERIFY(GoTo(results, "P23"));
        QTest::keyClick(results->suspects_table, Qt::Key_R);
        QString chosen;
        results->choose_file = [&chosen](const TFileChooserSpec &spec) {
            return spec.for_writing ? chosen : QString();
        };

        chosen = dir->filePath("clean.dat");
        results->btn_save_cleanClick();
        QVERIFY2(errors.isEmpty(), qPrintable(errors.join('\n')));
        QByteArray expected = survey;
        expected.replace(" P46 350 -3.800\n", " P46 350 3.800\n");
        expected.replace("500200 5500200 P23 350 14.000\n", "");
        QCOMPARE(ReadFile(chosen), expected);

        chosen = dir->filePath("clean.csv");
        results->btn_save_cleanClick();
        const QByteArray csv = ReadFile(chosen);
        QVERIFY(csv.startsWith("x,y,point,h,value,survey\r\n"));
        QVERIFY(csv.contains("500500,5500400,P46,350,3.8,\r\n"));
        QVERIFY(!csv.contains("P23"));
        QVERIFY(errors.isEmpty());

        const struct {
            const char *name, *why;
        } refused[] = {{"survey.dat", "station file"},
                       {"result.dat", "result.dat"},
                       {"result_review.csv", "result_review.csv"},
                       {"clean.xyz", ".gpkg"}};
        for (const auto &r : refused) {
            chosen = dir->filePath(r.name);
            const QByteArray before = ReadFile(chosen);
            errors.clear();
            results->btn_save_cleanClick();
            QVERIFY2(errors.size() == 1, r.name);
            QVERIFY2(errors[0].contains(r.why), qPrintable(errors[0]));
            QVERIFY2(ReadFile(chosen) == before, r.name);
        }
        QCOMPARE(ReadFile(dir->filePath("survey.dat")), survey);
    }

    void ResultsSaveTheReport() {
        // A result named as a report would be, so that a report can meet it.
        PrepareRun(Survey(30));
        form->txt_out->setText(dir->filePath("result.pdf"));
        form->btn_calc->click();
        TResultsWindow *results = form->results_window.get();
        QVERIFY(results != nullptr);
        QStringList shown;
        QString chosen;
        results->present_error = [&shown](const QString &text) {
            shown << text;
        };
        results->choose_file = [&chosen](const TFileChooserSpec &spec) {
            return spec.for_writing && spec.default_suffix == "pdf" ? chosen
                                                                    : QString();
        };

        chosen = dir->filePath("report.pdf");
        results->btn_report->click();
        QVERIFY2(shown.isEmpty(), qPrintable(shown.join('\n')));
        QVERIFY(ReadFile(chosen).startsWith("%PDF-"));

        // Another extension, or a file of the run, is refused and the file
        // is left as it was.
        const QByteArray result = ReadFile(dir->filePath("result.pdf"));
        QVERIFY(!result.isEmpty());
        struct Case {
            const char *name;
            QString path;
            const char *says;
        };
        const Case cases[] = {
            {"not a PDF", dir->filePath("report.txt"), ".pdf"},
            {"the result", dir->filePath("result.pdf"), "file of the run"},
            {"the result through ./", dir->path() + "/./result.pdf",
             "file of the run"},
        };
        for (const Case &c : cases) {
            shown.clear();
            chosen = c.path;
            results->btn_report->click();
            QCOMPARE(shown.size(), 1);
            QVERIFY2(shown[0].contains(c.says),
                     qPrintable(QString(c.name) + ": " + shown[0]));
        }
        QVERIFY(!QFileInfo::exists(dir->filePath("report.txt")));
        QCOMPARE(ReadFile(dir->filePath("result.pdf")), result);
    }

    // A table of two surveys, the eastern one 3 mGal high: its offset is in
    // the surveys' tab, Level puts it in the review file, and Recalculate
    // with it leaves no survey shifted.
    void SurveysAreLevelledFromTheirTab() {
        QByteArray table = "x,y,point,h,value,survey\n";
        for (int k = 0; k < 400; ++k) {
            const int column = k % 20, row = k / 20;
            const bool east = column >= 10;
            const double value = 0.4 * column - 0.25 * row +
                                 0.3 * std::sin(column * 0.7 + row * 0.4) +
                                 (east ? 3.0 : 0.0);
            table += QByteArray::number(500000 + 100 * column) + ',' +
                     QByteArray::number(5500000 + 100 * row) + ",Q" +
                     QByteArray::number(k) + ",350," +
                     QByteArray::number(value, 'f', 3) + ',' +
                     (east ? "EAST" : "WEST") + '\n';
        }
        form->txt_data->setText(Write("surveys.csv", table));
        form->txt_out->setText(dir->filePath("surveys_res.dat"));
        form->btn_calc->click();
        TResultsWindow *results = form->results_window.get();
        QVERIFY(results != nullptr);
        results->present_error = [this](const QString &text) {
            errors << text;
        };
        QVERIFY(results->tabs->indexOf(results->surveys_page) >= 0);
        QTableWidget *surveys = results->surveys_table;
        QCOMPARE(surveys->rowCount(), 2);
        QCOMPARE(surveys->item(0, 0)->text(), QString("EAST"));
        QCOMPARE(surveys->item(0, 5)->text(), QString("shifted"));
        const double offset = surveys->item(0, 3)->text().toDouble();
        QVERIFY2(std::fabs(offset - 3.0) < 0.3, qPrintable(surveys->item(0, 3)->text()));

        surveys->setCurrentCell(0, 0);
        results->btn_level->click();
        QVERIFY2(errors.isEmpty(), qPrintable(errors.join('\n')));
        QCOMPARE(surveys->item(0, 1)->text(), QString("level"));
        const QByteArray review = ReadFile(dir->filePath("surveys_res_review.csv"));
        QVERIFY2(review.contains("survey,EAST,,,level,"), review.constData());
        QVERIFY(results->Review().Stale().empty());
        results->undo_stack->undo();
        QVERIFY(!ReadFile(dir->filePath("surveys_res_review.csv")).contains("level"));
        results->undo_stack->redo();

        results->btn_recalc->click();
        QCOMPARE(form->results_window.get(), results);
        QVERIFY2(results->Results().reviewed,
                 qPrintable((errors + messages).join('\n')));
        QCOMPARE(results->Results().tally.levelled, int64_t(200));
        for (const SurveyOffset &survey : results->Results().findings.offsets.surveys) {
            QVERIFY(!survey.shifted);
        }
        QCOMPARE(surveys->item(0, 1)->text(), QString("level"));
        results->tabs->setCurrentWidget(results->surveys_page);
        results->resize(1600, 1000);
        QVERIFY(results->grab().save(
            QString(KORVANEL_RESULTS_PICTURE).replace(".png", "_surveys.png"),
            "PNG"));
    }

    // Leaves a picture of the window in the build folder, for a person to look
    // at.
    void SavesAPictureOfTheWindow() {
        form->txt_data->setText("/data/survey.dat");
        form->txt_out->setText("/data/survey_res.dat");
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form.get()));
        const QPixmap picture = form->grab();
        QCOMPARE(picture.size() / picture.devicePixelRatio(), QSize(650, 293));
        QVERIFY(picture.save(KORVANEL_WINDOW_PICTURE, "PNG"));
    }
};

// The window program's own application object, so its event loop is tested too.
int main(int argc, char **argv) {
    TApplication application(argc, argv);
    WindowTest suite;
    return QTest::qExec(&suite, argc, argv);
}
#include "window_test.moc"
