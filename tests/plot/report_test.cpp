// The quality-control report as a reader gets it: a PDF whose text, read
// back by poppler's extractor, names every suspect, the parameters and the
// counts; whose pages grow with the suspects as the table's rows per page
// say; whose paper, title and author are set; and which leaves nothing
// behind when it cannot be written.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <memory>
#include <string>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTimeZone>

#include <gtest/gtest.h>

#include "PlotFixture.h"
#include "platform/FileError.h"
#include "plot/Report.h"

namespace {

// True when poppler's tools are installed.
bool HavePoppler() {
    return std::system("pdftotext -v >/dev/null 2>&1") == 0 &&
           std::system("pdfinfo -v >/dev/null 2>&1") == 0;
}

// What `command` prints on standard output.
std::string Output(const std::string &command) {
    std::string text;
    std::unique_ptr<FILE, int (*)(FILE *)> pipe(popen(command.c_str(), "r"),
                                                pclose);
    if (!pipe) {
        return text;
    }
    std::array<char, 4096> buffer{};
    size_t n = 0;
    while ((n = std::fread(buffer.data(), 1, buffer.size(), pipe.get())) > 0) {
        text.append(buffer.data(), n);
    }
    return text;
}

std::string PdfText(const std::string &path) {
    return Output("pdftotext -enc UTF-8 '" + path + "' -");
}

std::string PdfInfo(const std::string &path) {
    return Output("pdfinfo '" + path + "'");
}

// The value of `field` ("Title", "Author", ...) in pdfinfo's answer about
// `path`, without the blanks around it; empty when it has none.
std::string InfoField(const std::string &path, const std::string &field) {
    const std::string info = PdfInfo(path);
    const size_t at = info.find("\n" + field + ":");
    if (at == std::string::npos && info.rfind(field + ":", 0) != 0) {
        return {};
    }
    const size_t start = info.find_first_not_of(
        ' ', (at == std::string::npos ? 0 : at + 1) + field.size() + 1);
    return info.substr(start, info.find('\n', start) - start);
}

// The number after "Pages:" in pdfinfo's answer; -1 for none.
int Pages(const std::string &path) {
    const std::string info = PdfInfo(path);
    const size_t at = info.find("Pages:");
    return at == std::string::npos ? -1 : std::atoi(info.c_str() + at + 6);
}

// A survey of 20 x 20 stations 250 m apart, the first `suspects` of them
// (every seventh station) planted with blunders of growing size, two
// stations sharing a position and a close pair.
struct ReportFixture {
    FixtureRun run;
    RunFigures figures;
    ReportContent content;

    explicit ReportFixture(size_t suspects, size_t side = 20)
        : run(Planted(suspects, side)) {
        // Worst first, as the suspect rule lists them.
        std::sort(run.suspects.suspects.begin(), run.suspects.suspects.end(),
                  [this](size_t a, size_t b) {
                      return std::fabs(run.stations[a].R2()) >
                             std::fabs(run.stations[b].R2());
                  });
        run.duplicates.positions.push_back({{3, 4}});
        run.duplicates.close_pairs.push_back({5, 6, 0.4});
        figures = FiguresOf(run.stations, run.suspects);
        content.source = {"/data/planted.dat", "planted.dat", 12345,
                          std::string(64, 'a')};
        content.version = "9.8";
        content.program = "report_test";
        content.written =
            QDateTime(QDate(2026, 3, 4), QTime(5, 6), QTimeZone(3600));
        content.parameters = {2750.0, 550.0, 14, 125.0};
        content.suspect_rule.threshold = 3.5;
        content.duplicate_distance = 0.75;
        content.figures = &figures;
        content.stations = &run.stations;
        content.suspects = &run.suspects;
        content.duplicates = &run.duplicates;
    }

    static std::vector<FixtureStation> Planted(size_t suspects, size_t side) {
        std::vector<FixtureStation> list =
            Lattice(static_cast<int>(side), static_cast<int>(side), 250.0);
        for (size_t j = 0; j < suspects; ++j) {
            FixtureStation &s = list[(7 * j) % list.size()];
            s.r2 = (j % 2 == 0 ? 1.0 : -1.0) * (1.0 + 0.01 * j);
            s.suspect = true;
            s.name = "BLUNDER-" + std::to_string(j + 1);
        }
        return list;
    }
};

class ReportTest : public testing::Test {
  protected:
    void SetUp() override {
        if (!HavePoppler()) {
            GTEST_SKIP() << "pdftotext and pdfinfo (poppler-utils) are not "
                            "installed: the report is not read back";
        }
        ASSERT_TRUE(dir.isValid());
    }
    std::string Path(const char *name) const {
        return dir.filePath(name).toStdString();
    }
    QTemporaryDir dir;
};

} // namespace

TEST_F(ReportTest, TextNamesEverySuspectTheParametersAndTheCounts) {
    const ReportFixture fixture(25);
    const std::string path = Path("report.pdf");
    WriteReport(path, fixture.content);
    const std::string text = PdfText(path);
    ASSERT_FALSE(text.empty());
    for (size_t j = 0; j < 25; ++j) {
        const std::string name = "BLUNDER-" + std::to_string(j + 1);
        SCOPED_TRACE(name);
        // Each name once in the table, as a word of its own.
        EXPECT_NE(text.find(name + "\n"), std::string::npos);
    }
    struct Case {
        const char *name, *text;
    };
    const Case cases[] = {
        {"the survey", "planted.dat"},
        {"its size", "12,345 bytes"},
        {"its checksum",
         "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa"},
        {"the date with its offset", "2026-03-04 05:06 UTC+01:00"},
        {"the program", "report_test 9.8"},
        {"search distance", "2750 m"},
        {"increment", "550 m"},
        {"minimum N", "14"},
        {"cell size", "125 m"},
        {"threshold", "3.5 robust scales"},
        {"duplicate distance", "0.75 m"},
        {"stations", "400"},
        {"suspects", "Suspects: 25"},
        {"the duplicate position's later station", "S4"},
        {"the close pair", "S6"},
        {"the method", "Method"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_NE(text.find(c.text), std::string::npos) << c.text;
    }
    // Counts as the run counted them.
    const RunFigures &f = fixture.figures;
    for (const int64_t count :
         {f.estimated, f.blank, f.skipped, f.duplicates}) {
        EXPECT_NE(text.find("\n" + std::to_string(count) + "\n"),
                  std::string::npos)
            << count;
    }
}

TEST_F(ReportTest, PagesGrowByOnePerPageOfSuspectRows) {
    // Every station of a 40 x 40 lattice may be a suspect. The first count
    // spills the table onto a second page and earns the map page; each
    // further page of rows adds one page.
    const size_t rows = SuspectRowsPerPage(ReportPaper::A4);
    ASSERT_GT(rows, 30u);
    const size_t base = rows + 10;
    int pages_at_base = 0;
    for (const size_t more : {size_t{0}, size_t{1}, size_t{3}}) {
        SCOPED_TRACE(more);
        const ReportFixture fixture(base + more * rows, 40);
        const std::string path = Path("grow.pdf");
        WriteReport(path, fixture.content);
        const int pages = Pages(path);
        if (more == 0) {
            pages_at_base = pages;
            EXPECT_NE(PdfText(path).find("The map shows all"),
                      std::string::npos);
        }
        EXPECT_EQ(pages, pages_at_base + static_cast<int>(more));
    }
    // A few suspects fit the title page's map: no map page, and the table
    // on one page, as with none at all.
    const std::string few = Path("few.pdf"), none = Path("none.pdf");
    WriteReport(few, ReportFixture(3).content);
    WriteReport(none, ReportFixture(0).content);
    EXPECT_EQ(Pages(few), Pages(none));
    EXPECT_EQ(PdfText(few).find("The map shows all"), std::string::npos);
    EXPECT_NE(PdfText(none).find("No station is a suspect."),
              std::string::npos);
}

TEST_F(ReportTest, PaperTitleAndAuthorAreSet) {
    struct Case {
        const char *name;
        ReportPaper paper;
        const char *size;
    };
    const Case cases[] = {{"A4", ReportPaper::A4, "(A4)"},
                          {"letter", ReportPaper::Letter, "(letter)"}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        ReportFixture fixture(5);
        fixture.content.paper = c.paper;
        const std::string path = Path("paper.pdf");
        WriteReport(path, fixture.content);
        EXPECT_NE(InfoField(path, "Page size").find(c.size), std::string::npos);
        EXPECT_EQ(InfoField(path, "Title"),
                  "Quality-control report: planted.dat");
        EXPECT_EQ(InfoField(path, "Author"), "Korvanel 9.8");
        EXPECT_EQ(InfoField(path, "Creator"), "report_test 9.8");
        // The update that adds the author leaves a PDF poppler reads
        // without complaint.
        EXPECT_EQ(Output("pdfinfo '" + path + "' 2>&1 >/dev/null"), "");
    }
}

// The diagnosis of the fixture's first four suspects (one of each kind of
// fix), a density check that ran, and a DEM one station disagrees with.
struct DiagnosedFixture : ReportFixture {
    Diagnosis diagnosis;
    std::vector<double> dem;

    DiagnosedFixture() : ReportFixture(4) {
        const std::vector<size_t> &s = run.suspects.suspects;
        const auto at = [&s](size_t j) { return static_cast<uint32_t>(s[j]); };
        diagnosis.stations = {
            {at(0), Cause::Sign, -12.5, qc_none, 0.01, 0.1, ""},
            {at(1), Cause::Height, 7.25, 812.5, 0.02, 0.1, ""},
            {at(2), Cause::Ambiguous, qc_none, qc_none, qc_none, 0.1,
             "sign decimal"},
            {at(3), Cause::Unexplained, qc_none, qc_none, qc_none, 0.1, ""},
        };
        diagnosis.Index();
        DensityCheck &d = diagnosis.density;
        d.done = true;
        d.stations = 380;
        d.slope = -0.005;
        d.intercept = 0.0;
        d.slope_error = 0.0017;
        d.density = 2.55;
        d.density_error = 0.04;
        d.used = 2.67;
        d.differs = true;
        // Heights of 100 m, kriged ones a few metres off, for the scatter.
        for (size_t k = 0; k < run.stations.Size(); ++k) {
            run.stations[k].h = 100.0;
            run.stations[k].h_estimate =
                100.0 + 2.0 * static_cast<double>(k % 7) - 6.0;
        }
        dem.assign(run.stations.Size(), 100.0);
        dem[8] = 65.0; // dh = +35 m
        content.diagnosis = &diagnosis;
        content.density = 2.67;
        content.dem = &dem;
        content.dem_name = "dem.tif";
        content.dem_tolerance = 20.0;
    }
};

TEST_F(ReportTest, DiagnosisAndDemAddTheirColumnsAndSections) {
    const std::string plain = Path("plain.pdf");
    WriteReport(plain, ReportFixture(4).content);
    const DiagnosedFixture fixture;
    const std::string later = Path("later.pdf");
    WriteReport(later, fixture.content);
    const std::string text = PdfText(later);
    const std::string plain_text = PdfText(plain);
    struct Case {
        const char *name, *text;
    };
    const Case cases[] = {
        {"cause column", "Cause"},
        {"fix column", "Proposed fix"},
        {"a sign's fix", "value -12.500"},
        {"a height's fix", "h 812.50 m, value 7.250"},
        {"an ambiguous suspect's causes", "check: sign or decimal"},
        {"an unexplained suspect", "check the field record"},
        {"causes counted", "ambiguous"},
        {"density on the title page", "2.67 g/cm"},
        {"the density check", "Density check"},
        {"suggested density", "2.550 \u00b1 0.040"},
        {"the scatter's axis", "height residual r2_h"},
        {"a density that differs", "standard errors away"},
        {"DEM on the title page", "dem.tif, tolerance 20 m"},
        {"heights section", "Heights against the DEM"},
        {"its dh", "+35.00"},
        {"the method's causes", "The causes"},
        {"the method's density check", "Huber"},
        {"the DEM's tolerance changed nothing", "DEM tolerance"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_NE(text.find(c.text), std::string::npos) << c.text;
        EXPECT_EQ(plain_text.find(c.text), std::string::npos) << c.text;
    }
}

TEST_F(ReportTest, SkippedDensityCheckSaysWhy) {
    DiagnosedFixture fixture;
    fixture.diagnosis.density = DensityCheck{};
    fixture.diagnosis.density.skipped_because = "the stations have no heights";
    fixture.content.dem = nullptr;
    const std::string path = Path("skipped.pdf");
    WriteReport(path, fixture.content);
    const std::string text = PdfText(path);
    EXPECT_NE(text.find("The check was skipped: the stations have no heights"),
              std::string::npos);
    EXPECT_EQ(text.find("height residual r2_h ="), std::string::npos);
    EXPECT_EQ(text.find("Heights against the DEM"), std::string::npos);
}

// Two surveys split west and east across the fixture's lattice, the east
// one shifted by +2.5 mGal, as the offsets' estimate would leave them.
struct SurveyedFixture : ReportFixture {
    SurveyGrouping grouping;
    SurveyOffsets offsets;

    SurveyedFixture() : ReportFixture(4) {
        TSurveyGrouper grouper;
        for (size_t k = 0; k < run.stations.Size(); ++k) {
            grouper.Add(run.stations[k].x < 502400.0 ? "WEST-1998"
                                                     : "EAST-2011");
        }
        grouping = grouper.Finish();
        offsets.refusal = SurveyRefusal::None;
        offsets.steps = 40;
        offsets.groups = 1;
        SurveyOffset west, east;
        west.stations = east.stations = 200;
        west.in_contact = east.in_contact = 20;
        west.linked = east.linked = true;
        west.offset = 0.0;
        west.standard_error = 0.061;
        west.datum = true;
        east.offset = 2.5;
        east.standard_error = 0.124;
        east.shifted = true;
        west.group = east.group = 0;
        offsets.surveys = {west, east}; // by survey index: west first
        content.grouping = &grouping;
        content.offsets = &offsets;
        content.survey_options.offset_floor = 0.75;
        content.survey_from_name = "^[A-Z]+";
        content.suspects_levelled = 3;
        content.estimated_again = 57;
    }
};

TEST_F(ReportTest, SurveysSectionListsTheOffsetsWorstFirst) {
    const std::string plain = Path("plain.pdf");
    WriteReport(plain, ReportFixture(4).content);
    const SurveyedFixture fixture;
    const std::string surveyed = Path("surveyed.pdf");
    WriteReport(surveyed, fixture.content);
    const std::string text = PdfText(surveyed);
    const std::string plain_text = PdfText(plain);
    struct Case {
        const char *name, *text;
    };
    const Case cases[] = {
        {"the section", "Surveys: 2"},
        {"where the surveys came from", "names, ^[A-Z]+"},
        {"the floor on the title page", "0.75 mGal"},
        {"the shifted survey's offset", "+2.500"},
        {"its standard error", "0.124"},
        {"the datum's standard error", "0.061"},
        {"the datum", "datum"},
        {"the shifted one", "shifted\n"},
        {"the map's label", "EAST-2011 +2.50 mGal"},
        {"the suspects levelled", "3 fewer than on the values as they are"},
        {"the method", "The surveys' offsets"},
        {"the stations estimated again", "(57 here)"},
        {"the changed floor among the settings", "offset floor, mGal"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_NE(text.find(c.text), std::string::npos) << c.text;
        EXPECT_EQ(plain_text.find(c.text), std::string::npos) << c.text;
    }
    // The shifted survey heads the table although it is the second.
    const size_t table = text.find("Standard error");
    ASSERT_NE(table, std::string::npos);
    EXPECT_LT(text.find("EAST-2011", table), text.find("WEST-1998", table));
    // One shifted survey counted on the title page, before the suspects.
    const size_t title_page_end = text.find("Suspects: 4");
    const size_t shifted_count = text.find("shifted");
    EXPECT_LT(shifted_count, title_page_end);
}

TEST_F(ReportTest, UnwritablePathThrowsAndLeavesNothing) {
    const ReportFixture fixture(2);
    const std::string path = Path("no/such/folder/report.pdf");
    EXPECT_THROW(WriteReport(path, fixture.content), FileError);
    EXPECT_TRUE(QDir(dir.path())
                    .entryList(QDir::NoDotAndDotDot | QDir::AllEntries)
                    .isEmpty());
    // An earlier report stays as it was when the new one fails.
    const std::string kept = Path("kept.pdf");
    WriteReport(kept, fixture.content);
    QFile file(QString::fromStdString(kept));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray before = file.readAll();
    file.close();
    ReportContent broken = fixture.content;
    broken.stations = nullptr;
    EXPECT_THROW(WriteReport(kept, broken), FileError);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), before);
    EXPECT_EQ(
        QDir(dir.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries),
        QStringList{"kept.pdf"});
}

TEST(ReportPaperAndPath, NamesAndExtensions) {
    struct Case {
        const char *text;
        std::optional<ReportPaper> paper;
    };
    const Case papers[] = {{"a4", ReportPaper::A4},
                           {"A4", ReportPaper::A4},
                           {"Letter", ReportPaper::Letter},
                           {"a5", std::nullopt},
                           {"", std::nullopt}};
    for (const Case &c : papers) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(ParseReportPaper(c.text), c.paper);
    }
    struct PathCase {
        const char *path;
        bool report;
    };
    const PathCase paths[] = {{"out.pdf", true},      {"dir/OUT.PDF", true},
                              {"out.pdf.png", false}, {".pdf", false},
                              {"dir/.pdf", false},    {"out", false}};
    for (const PathCase &c : paths) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(IsReportPath(c.path), c.report);
    }
}

TEST(SurveyFile, SizeAndChecksumOfARegularFileOnly) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath("tiny.dat");
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("abc");
    file.close();
    const ReportSource source = DescribeSurveyFile(path.toStdString());
    EXPECT_EQ(source.name, "tiny.dat");
    EXPECT_EQ(source.size, 3);
    // SHA-256 of "abc" (FIPS 180-2, appendix B.1).
    EXPECT_EQ(source.sha256, "ba7816bf8f01cfea414140de5dae2223b00361a396177a9c"
                             "b410ff61f20015ad");
    for (const char *unknown : {"-", "/dev/null", "/no/such/file.dat"}) {
        SCOPED_TRACE(unknown);
        const ReportSource s = DescribeSurveyFile(unknown);
        EXPECT_EQ(s.size, -1);
        EXPECT_TRUE(s.sha256.empty());
    }
    EXPECT_EQ(DescribeSurveyFile("-").name, "standard input");
}
