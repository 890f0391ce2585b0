// The report's pages: laid out first (so that every page knows how many
// there are), then painted one after the other onto Qt's PDF writer, in
// points, with the figure's own drawing for the map and the histogram.
#include "plot/Report.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <functional>
#include <memory>
#include <utility>

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QFontMetricsF>
#include <QIODevice>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QRegularExpression>

#include "platform/FileError.h"
#include "platform/FileReplacement.h"
#include "plot/DotLayer.h"
#include "plot/Figure.h"
#include "plot/FigureModel.h"
#include "plot/NumberText.h"
#include "qc/CompanionTable.h"

namespace {

// The painter's unit is the point (1/72 inch): the writer's resolution.
constexpr int points_per_inch = 72;
// The body of a page, points from the paper's edges; the header and the
// footer lie in the margins above and below it.
constexpr double margin_side = 42.0;
constexpr double margin_top = 56.0;
constexpr double margin_bottom = 50.0;
// Texts, points.
constexpr double title_size = 20.0;
constexpr double subtitle_size = 14.0;
constexpr double heading_size = 13.0;
constexpr double body_size = 9.0;
constexpr double table_size = 8.0;
constexpr double header_size = 8.0;
constexpr double figure_size = 8.0;
// Rows of a table and of the title page's blocks, points.
constexpr double row_height = 11.0;
constexpr double header_row_height = 14.0;
constexpr double cell_pad = 4.0;
// A table's part on a page holds at least this many rows, or goes to the
// next page.
constexpr size_t min_rows_on_page = 3;
// The dots of a map drawn at this many times the points: 216 pixels per
// inch, sharp in print; the image of a page-sized map takes about 12 MiB.
constexpr double dot_sharpness = 3.0;
// The page-sized map of the suspects names up to this many.
constexpr size_t page_map_names = 120;
// The surveys' map names each survey when there are no more than this many
// (the shifted ones always, with their offsets); its page starts anew when
// less than this share of a body is left under the surveys' table.
constexpr size_t survey_map_names = 60;
constexpr double survey_map_least_share = 0.5;
// Widest a station's name, a cause or a proposed fix may be in a table,
// points.
constexpr double name_column_most = 150.0;
constexpr double remark_column_most = 130.0;
constexpr double cause_column_most = 60.0;
// The checksum's file read in pieces of this many bytes.
constexpr qint64 hash_piece = 1 << 20;
// Bytes of the PDF's end kept to read its trailer.
constexpr qsizetype tail_kept = 4096;

const QColor ink(0x20, 0x20, 0x20);
const QColor quiet(0x60, 0x60, 0x60);
const QColor rule_grey(0xb0, 0xb0, 0xb0);
const QColor row_shade(0xf2, 0xf2, 0xf2);
const QColor scatter_ink(0x30, 0x50, 0x80, 0x90);
const QColor fit_ink(0xc0, 0x20, 0x20);
const QColor name_ground(0xff, 0xff, 0xff, 0xc8);

// The density check's scatter: the middle share of the points sets each
// axis's range, widened by the margin (a share of it) on each side; about
// this many ticks an axis; dots this wide, points; up to this many dots
// drawn as vectors (more as an image); the plot this share of a page's
// body high at most.
constexpr double scatter_share = 0.99;
constexpr double scatter_margin = 0.08;
constexpr double scatter_ticks = 6.0;
constexpr double scatter_dot = 3.0;
constexpr size_t scatter_vector_most = 20000;
constexpr int most_error_decimals = 8;
constexpr int scatter_faintest = 0x18; // the least alpha of a dot of many
constexpr double scatter_height_share = 0.55;

// Texts the report shows, defined here once.
constexpr const char *report_title = "Quality-control report";
constexpr const char *byline =
    "Leave-one-out kriging residuals of a gravity survey";
constexpr const char *unknown_text = "not known (read once, not kept)";
// The PDF's author: the program, with its version after it.
constexpr const char *author_name = "Korvanel";

using Draw = std::function<void(QPainter &, const QRectF &)>;

// A part of a page: where it lies and how it is painted.
struct PagePart {
    QRectF box;
    Draw draw;
};
using Page = std::vector<PagePart>;

// Lays parts out down the bodies of the pages, top to bottom.
class TPageFlow {
  public:
    explicit TPageFlow(const QRectF &body_) : body(body_) {}

    // Starts a new page, unless the current one is still empty.
    void NewPage() {
        if (pages.empty() || !pages.back().empty()) {
            pages.emplace_back();
        }
        y = body.top();
    }
    // Points left on the current page.
    double Room() const { return pages.empty() ? 0.0 : body.bottom() - y; }
    // Puts a part `height` points high on this page, or on a new one when
    // it and `keep` points after it do not fit.
    void Add(double height, Draw draw, double keep = 0.0) {
        if (pages.empty() || height + keep > Room() + 1e-6) {
            NewPage();
        }
        pages.back().push_back(
            {QRectF(body.left(), y, body.width(), height), std::move(draw)});
        y += height;
    }
    // Blank space, to the page's end at most.
    void Space(double height) { y = std::min(y + height, body.bottom()); }

    const QRectF body;
    std::vector<Page> pages;

  private:
    double y = 0.0;
};

QPageSize PageSizeOf(ReportPaper paper) {
    return QPageSize(paper == ReportPaper::Letter ? QPageSize::Letter
                                                  : QPageSize::A4);
}

// The body of a page of `paper`, portrait, in points.
QRectF BodyOf(ReportPaper paper) {
    const QSizeF size(PageSizeOf(paper).sizePoints());
    return QRectF(margin_side, margin_top, size.width() - 2 * margin_side,
                  size.height() - margin_top - margin_bottom);
}

QString Text(const std::string &text) { return QString::fromStdString(text); }

// The figure's font, without the optional shaping of Latin text: a ligature
// would reach the PDF as one character (U+FB01 for "fi"), which text
// extraction and search then miss. Scripts that need shaping keep it.
QFont ReportFont(double points, bool bold = false) {
    QFont font = FigureFont(points, bold);
    font.setStyleStrategy(QFont::PreferNoShaping);
    return font;
}

// Text with its baseline placed so that its line's top is at `top`.
void TextAt(QPainter &painter, double x, double top, const QString &text) {
    painter.drawText(QPointF(x, top + QFontMetricsF(painter.font()).ascent()),
                     text);
}

// Height of `text` wrapped to `width` in `font`.
double WrappedHeight(const QFont &font, double width, const QString &text) {
    return QFontMetricsF(font)
        .boundingRect(QRectF(0, 0, width, 1e6),
                      Qt::AlignLeft | Qt::TextWordWrap, text)
        .height();
}

// A paragraph of the body, wrapped to the body's width.
void AddParagraph(TPageFlow &flow, const QString &text, bool bold = false,
                  double size = body_size, double keep = 0.0) {
    const QFont font = ReportFont(size, bold);
    const double height = WrappedHeight(font, flow.body.width(), text);
    flow.Add(
        height + 0.5 * size,
        [font, text](QPainter &painter, const QRectF &box) {
            painter.setFont(font);
            painter.setPen(ink);
            painter.drawText(
                box, Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, text);
        },
        keep);
}

// A section's title, kept on one page with `keep` points after it.
void AddHeading(TPageFlow &flow, const QString &text, double keep) {
    flow.Space(0.6 * heading_size);
    AddParagraph(flow, text, true, heading_size, keep);
}

// One column of a table: its title, how its cells align, the widest it may
// be (0: as wide as its widest cell), and its band: a table too wide for
// the page puts its second band on a second line of each row, under the
// first. `width` is set by FitTable.
struct TableColumn {
    QString title;
    Qt::Alignment align = Qt::AlignRight;
    double most = 0.0;
    int band = 0;
    double width = 0.0;
};

// A table: columns and rows, a cell's text from its row and column.
struct Table {
    std::vector<TableColumn> columns;
    size_t rows = 0;
    std::function<QString(size_t row, size_t column)> cell;
    QString continued; // the caption above the rows on a page of their own

    int Bands() const {
        int bands = 1;
        for (const TableColumn &column : columns) {
            bands = std::max(bands, column.band + 1);
        }
        return bands;
    }
};

// A second band starts under the first band's second column (the first
// is a row's number or key).
double BandIndent(const Table &table, int band) {
    return band > 0 && !table.columns.empty() ? table.columns[0].width : 0.0;
}

// Each column as wide as its widest text (header or cell) and its padding,
// within its limit. A band wider than `width` shrinks its limited columns
// in proportion (their texts are then cut with an ellipsis); the last
// column of a second band takes what its band leaves.
void FitTable(Table &table, double width) {
    const QFontMetricsF cells(ReportFont(table_size));
    const QFontMetricsF header(ReportFont(table_size, true));
    for (int band = 0; band < table.Bands(); ++band) {
        double total = BandIndent(table, band), limited = 0.0;
        TableColumn *last = nullptr;
        for (size_t c = 0; c < table.columns.size(); ++c) {
            TableColumn &column = table.columns[c];
            if (column.band != band) {
                continue;
            }
            double widest = header.horizontalAdvance(column.title);
            for (size_t r = 0; r < table.rows; ++r) {
                widest =
                    std::max(widest, cells.horizontalAdvance(table.cell(r, c)));
            }
            column.width = widest + 2 * cell_pad;
            if (column.most > 0.0) {
                column.width = std::min(column.width, column.most);
                limited += column.width;
            }
            total += column.width;
            last = &column;
        }
        if (total > width && limited > 0.0) {
            const double keep = std::max(0.0, 1.0 - (total - width) / limited);
            for (TableColumn &column : table.columns) {
                if (column.band == band && column.most > 0.0) {
                    column.width *= keep;
                }
            }
        } else if (band > 0 && last != nullptr) {
            last->width += width - total;
        }
    }
}

// Rows [first, last) of `table` under its header, at the top of `box`.
void DrawTableRows(QPainter &painter, const QRectF &box, const Table &table,
                   size_t first, size_t last, const QString &caption) {
    painter.save();
    double y = box.top();
    if (!caption.isEmpty()) {
        painter.setFont(ReportFont(table_size));
        painter.setPen(quiet);
        TextAt(painter, box.left(), y, caption);
        y += header_row_height;
    }
    const int bands = table.Bands();
    std::vector<double> band_width(static_cast<size_t>(bands), 0.0);
    for (int band = 0; band < bands; ++band) {
        band_width[static_cast<size_t>(band)] = BandIndent(table, band);
    }
    for (const TableColumn &column : table.columns) {
        band_width[static_cast<size_t>(column.band)] += column.width;
    }
    const double width =
        *std::max_element(band_width.begin(), band_width.end());
    const QFont header_font = ReportFont(table_size, true);
    const QFont cell_font = ReportFont(table_size);
    // The texts of one line of a row (or of the header), band by band.
    const auto row_texts = [&](double top, double height, const QFont &font,
                               const std::function<QString(size_t)> &text) {
        painter.setFont(font);
        const QFontMetricsF m(font);
        for (int band = 0; band < bands; ++band) {
            double x = box.left() + BandIndent(table, band);
            for (size_t c = 0; c < table.columns.size(); ++c) {
                const TableColumn &column = table.columns[c];
                if (column.band != band) {
                    continue;
                }
                const QRectF cell(x + cell_pad, top + band * height,
                                  column.width - 2 * cell_pad, height);
                painter.drawText(
                    cell, column.align | Qt::AlignVCenter,
                    m.elidedText(text(c), Qt::ElideRight, cell.width() + 0.5));
                x += column.width;
            }
        }
    };
    painter.setPen(ink);
    row_texts(y, header_row_height, header_font,
              [&](size_t c) { return table.columns[c].title; });
    y += bands * header_row_height;
    painter.setPen(QPen(quiet, 0.6));
    painter.drawLine(QPointF(box.left(), y), QPointF(box.left() + width, y));
    for (size_t r = first; r < last; ++r) {
        if ((r - first) % 2 == 1) {
            painter.fillRect(QRectF(box.left(), y, width, bands * row_height),
                             row_shade);
        }
        painter.setPen(ink);
        row_texts(y, row_height, cell_font,
                  [&](size_t c) { return table.cell(r, c); });
        y += bands * row_height;
    }
    painter.setPen(QPen(rule_grey, 0.6));
    painter.drawLine(QPointF(box.left(), y), QPointF(box.left() + width, y));
    painter.restore();
}

// The rows of `bands` lines a part `room` points high holds under its
// header and, with `caption`, a caption line.
size_t RowsThatFit(double room, bool caption, int bands = 1) {
    const double rows = (room - bands * header_row_height -
                         (caption ? header_row_height : 0.0) - 1.0) /
                        (bands * row_height);
    return rows > 0.0 ? static_cast<size_t>(std::floor(rows)) : 0;
}

// The table's rows, as many as fit on each page, the header on every page
// and, on a page the table does not begin halfway down, the caption
// `table.continued` with the rows it holds above it.
void AddTable(TPageFlow &flow, std::shared_ptr<Table> table) {
    FitTable(*table, flow.body.width());
    const int bands = table->Bands();
    size_t first = 0;
    bool continued = false; // a caption above the rows on this page
    while (first < table->rows) {
        size_t fit = RowsThatFit(flow.Room(), continued, bands);
        if (fit < std::min(min_rows_on_page, table->rows - first)) {
            flow.NewPage();
            continued = true;
            fit = RowsThatFit(flow.Room(), continued, bands);
        }
        const size_t last =
            std::min(table->rows, first + std::max<size_t>(fit, 1));
        const QString caption =
            !continued ? QString()
            : first == 0 && last == table->rows
                ? table->continued
                : QString("%1 (rows %2 to %3 of %4)")
                      .arg(table->continued, GroupedNumber(first + 1),
                           GroupedNumber(last), GroupedNumber(table->rows));
        const double height = bands * header_row_height +
                              (continued ? header_row_height : 0.0) +
                              (last - first) * bands * row_height + 1.0;
        flow.Add(height, [table, first, last, caption](QPainter &painter,
                                                       const QRectF &box) {
            DrawTableRows(painter, box, *table, first, last, caption);
        });
        first = last;
        continued = true;
    }
}

// Key and value pairs, a line each.
using Pairs = std::vector<std::pair<QString, QString>>;

// Draws `pairs` from `top` in two columns, keys `key_width` wide; returns
// the height drawn.
double DrawPairs(QPainter &painter, double left, double top, double key_width,
                 double width, const QString &title, const Pairs &pairs) {
    painter.save();
    painter.setPen(ink);
    double y = top;
    if (!title.isEmpty()) {
        painter.setFont(ReportFont(body_size + 1, true));
        TextAt(painter, left, y, title);
        y += 1.5 * row_height;
    }
    const QFont key_font = ReportFont(body_size);
    const QFont value_font = ReportFont(body_size, true);
    const QFontMetricsF value_metrics(value_font);
    for (const auto &[key, value] : pairs) {
        painter.setFont(key_font);
        painter.setPen(quiet);
        TextAt(painter, left, y, key);
        painter.setFont(value_font);
        painter.setPen(ink);
        TextAt(painter, left + key_width, y,
               value_metrics.elidedText(value, Qt::ElideMiddle,
                                        width - key_width));
        y += row_height + 1.0;
    }
    painter.restore();
    return y - top;
}

double PairsHeight(const QString &title, const Pairs &pairs) {
    return (title.isEmpty() ? 0.0 : 1.5 * row_height) +
           pairs.size() * (row_height + 1.0);
}

QString Metres(double value) { return QString::number(value, 'g', 12) + " m"; }

QString Mgal(double value) {
    return std::isfinite(value) ? SignedNumber(value, value_decimals) + " mGal"
                                : QString("none");
}

// "2026-05-02 18:40 UTC+02:00": the date in the writer's time zone, with
// its offset, so that it reads the same anywhere.
QString DateText(const QDateTime &written) {
    const int offset = written.offsetFromUtc() / 60;
    return written.toString("yyyy-MM-dd HH:mm") +
           QString(" UTC%1%2:%3")
               .arg(offset < 0 ? '-' : '+')
               .arg(std::abs(offset) / 60, 2, 10, QChar('0'))
               .arg(std::abs(offset) % 60, 2, 10, QChar('0'));
}

QString Density(double value) {
    return QString::number(value, 'g', 6) + " g/cm\u00b3";
}

// "1 station", "2,500 stations": a count with the word that suits it.
QString Counted(size_t count, const char *one, const char *more) {
    return QString("%1 %2").arg(GroupedNumber(static_cast<int64_t>(count)),
                                count == 1 ? one : more);
}

// True when the report has the DEM's heights of its stations.
bool HasDem(const ReportContent &c) {
    return c.dem != nullptr && !c.dem->empty() &&
           c.dem->size() == c.stations->Size();
}

// True when the report has the stations' surveys and what their offsets
// came to.
bool HasSurveys(const ReportContent &c) {
    return c.grouping != nullptr && c.offsets != nullptr &&
           !c.grouping->survey.empty() &&
           c.grouping->survey.size() == c.stations->Size();
}

// Where the stations' surveys came from, in a few words (the title page)
// or in a sentence's words (the method).
QString SurveySourceText(const ReportContent &c, bool words) {
    if (c.survey_from_name.empty()) {
        return words ? "the survey field of the source" : "the source's field";
    }
    if (c.survey_from_name == survey_from_name_auto) {
        return words ? "the stations' names without their trailing digits"
                     : "names (auto)";
    }
    return QString(words ? "the first match of the pattern %1 in the "
                           "stations' names"
                         : "names, %1")
        .arg(Text(c.survey_from_name));
}

// The surveys with offsets that were shifted.
int64_t ShiftedSurveys(const SurveyOffsets &offsets) {
    return std::count_if(offsets.surveys.begin(), offsets.surveys.end(),
                         [](const SurveyOffset &s) { return s.shifted; });
}

// A cause's line among the title page's counts: a suspect's cause
// indented under the suspects.
QString CauseCountText(Cause cause) {
    switch (cause) {
    case Cause::HeightOnly:
        return "Height off the DEM";
    case Cause::RoughGround:
        return "Rough ground";
    default:
        return QString("  ") + CauseName(cause);
    }
}

// What a suspect's diagnosis proposes, in a few words.
QString FixText(const StationDiagnosis &d) {
    switch (d.cause) {
    case Cause::Sign:
    case Cause::Decimal:
    case Cause::Digits:
    case Cause::Duplicate:
        return QString("value %1")
            .arg(FixedOrEmpty(d.fix_value, value_decimals));
    case Cause::Height:
        return QString("h %1 m, value %2")
            .arg(FixedOrEmpty(d.fix_h, position_decimals),
                 FixedOrEmpty(d.fix_value, value_decimals));
    case Cause::Ambiguous:
        return QString("check: %1")
            .arg(Text(d.fitting).replace(' ', QString(" or ")));
    case Cause::Unexplained:
        return "check the field record";
    default:
        return QString();
    }
}

// Everything the pages are drawn from, prepared once.
struct TReportState {
    const ReportContent &content;
    TFigureModel model;
    QRectF body;
    Pairs file_pairs, parameter_pairs, count_pairs;
};

FigureHeader HeaderOf(const ReportContent &content) {
    FigureHeader header;
    header.station_file = content.source.name;
    header.parameters = content.parameters;
    header.suspect_threshold = content.suspect_rule.threshold;
    return header;
}

Pairs FilePairs(const ReportContent &c) {
    const ReportSource &s = c.source;
    return {
        {"Survey file", Text(s.path == "-" ? "standard input" : s.path)},
        {"Size", s.size >= 0 ? GroupedNumber(s.size) + " bytes"
                             : QString(unknown_text)},
        {"SHA-256", s.sha256.empty() ? QString(unknown_text) : Text(s.sha256)},
        {"Written", DateText(c.written)},
        {"Program", Text(c.program + " " + c.version)},
    };
}

Pairs ParameterPairs(const ReportContent &c) {
    const RunParameters &p = c.parameters;
    const SuspectOptions &rule = c.suspect_rule;
    Pairs pairs = {
        {"Search distance", Metres(p.search_distance)},
        {"Increment", Metres(p.increment)},
        {"Minimum stations N", QString::number(p.min_points)},
        {"Cell size", Metres(p.cell_size)},
        {"Suspect threshold",
         QString("%1 robust scales")
             .arg(QString::number(rule.threshold, 'g', 6))},
        {"Local scale",
         rule.local_neighbours > 0
             ? QString("%1 \u00d7 that of the %2 nearest")
                   .arg(QString::number(rule.local_share, 'g', 6))
                   .arg(rule.local_neighbours)
             : QString("not used")},
        {"Duplicate distance", c.duplicate_distance > 0.0
                                   ? Metres(c.duplicate_distance)
                                   : QString("no close pairs looked for")},
    };
    if (c.diagnosis != nullptr) {
        pairs.push_back({"Reduction density", Density(c.density)});
    }
    if (HasDem(c)) {
        pairs.push_back({"DEM", QString("%1, tolerance %2")
                                    .arg(c.dem_name.empty() ? QString("given")
                                                            : Text(c.dem_name),
                                         Metres(c.dem_tolerance))});
    }
    if (HasSurveys(c)) {
        const SurveyOffsetOptions &o = c.survey_options;
        pairs.push_back({"Surveys from", SurveySourceText(c, false)});
        pairs.push_back({"Offset floor",
                         QString::number(o.offset_floor, 'g', 6) + " mGal"});
        if (!o.reference.empty()) {
            pairs.push_back({"Reference survey", Text(o.reference)});
        }
    }
    return pairs;
}

Pairs CountPairs(const ReportContent &c) {
    const RunFigures &f = *c.figures;
    Pairs pairs = {
        {"Stations", GroupedNumber(f.Stations())},
        {"Estimated", GroupedNumber(f.estimated)},
        {"Blank", GroupedNumber(f.blank)},
        {"Skipped", GroupedNumber(f.skipped)},
        {"Duplicates", GroupedNumber(f.duplicates)},
    };
    if (f.not_reached > 0) {
        pairs.push_back({"Not reached", GroupedNumber(f.not_reached)});
    }
    pairs.push_back({"Suspects", GroupedNumber(f.suspects)});
    if (c.diagnosis != nullptr) {
        // The suspects by cause, then the stations given a cause that are
        // not suspects, in the order the summary counts them.
        for (const Cause cause : all_causes) {
            const int64_t count = c.diagnosis->Count(cause);
            if (count > 0) {
                pairs.push_back({CauseCountText(cause), GroupedNumber(count)});
            }
        }
    }
    if (HasSurveys(c)) {
        pairs.push_back({"Surveys", GroupedNumber(static_cast<int64_t>(
                                        c.grouping->Count()))});
        if (c.offsets->refusal == SurveyRefusal::None) {
            pairs.push_back(
                {"  shifted", GroupedNumber(ShiftedSurveys(*c.offsets))});
        }
    }
    pairs.push_back({"Median of r2", Mgal(f.median)});
    pairs.push_back({"Robust scale of r2",
                     std::isfinite(f.scale)
                         ? FixedNumber(f.scale, value_decimals) + " mGal"
                         : QString("none")});
    pairs.push_back(
        {"RMS of r2", std::isfinite(f.RmsR2())
                          ? FixedNumber(f.RmsR2(), value_decimals) + " mGal"
                          : QString("none")});
    return pairs;
}

// Where the title page's parts go.
struct TitleLayout {
    double blocks_top = 0.0; // the parameters and counts, side by side
    double figure_top = 0.0;
    QRectF map, colour_bar, legend, histogram;
};

TitleLayout LayOutTitle(const TReportState &state) {
    const QRectF &body = state.body;
    TitleLayout layout;
    const double file_top = body.top() + 2.9 * title_size;
    layout.blocks_top =
        file_top + PairsHeight(QString(), state.file_pairs) + 0.8 * row_height;
    layout.figure_top =
        layout.blocks_top +
        std::max(PairsHeight("Parameters", state.parameter_pairs),
                 PairsHeight("Counts", state.count_pairs)) +
        row_height;
    const double t = figure_size;
    const double lower =
        std::clamp(0.42 * (body.bottom() - layout.figure_top), 150.0, 210.0);
    const double map_bottom = body.bottom() - lower;
    layout.map = QRectF(QPointF(body.left() + 6.2 * t, layout.figure_top),
                        QPointF(body.right(), map_bottom - 3.2 * t));
    const double lower_top = map_bottom + 0.5 * t;
    const double half = 0.46 * body.width();
    layout.colour_bar = QRectF(body.left(), lower_top, half, 4.0 * t);
    layout.legend = QRectF(body.left(), layout.colour_bar.bottom() + 1.0 * t,
                           half, 6.4 * t);
    layout.histogram = QRectF(QPointF(body.left() + half + 2.0 * t, lower_top),
                              body.bottomRight());
    return layout;
}

// The map of the survey in `frame`, named suspects at most `names`; the
// view it was drawn in.
TMapView DrawSurveyMap(QPainter &painter, const TFigureModel &model,
                       const QRectF &frame, size_t names) {
    TMapView view;
    FitMap(view, model.Extent(), frame, figure_size);
    const double radius = DotRadius(model, view);
    const QImage dots = RenderDots(model, view, radius, dot_sharpness);
    MapDecor decor;
    decor.text = figure_size;
    decor.max_names = names;
    DrawMap(painter, view, model, dots, radius, decor);
    return view;
}

void DrawTitlePage(QPainter &painter, const TReportState &state) {
    const QRectF &body = state.body;
    const TitleLayout layout = LayOutTitle(state);
    painter.setPen(ink);
    painter.setFont(ReportFont(title_size, true));
    TextAt(painter, body.left(), body.top(), report_title);
    painter.setFont(ReportFont(subtitle_size, true));
    TextAt(painter, body.left(), body.top() + 1.35 * title_size,
           TitleText(state.model));
    painter.setFont(ReportFont(body_size));
    painter.setPen(quiet);
    TextAt(painter, body.left(),
           body.top() + 1.35 * title_size + 1.4 * subtitle_size, byline);
    const double key_width = 80.0;
    DrawPairs(painter, body.left(), body.top() + 2.9 * title_size, key_width,
              body.width(), QString(), state.file_pairs);
    const double half = 0.5 * body.width();
    DrawPairs(painter, body.left(), layout.blocks_top, 100.0, half - 10.0,
              "Parameters", state.parameter_pairs);
    DrawPairs(painter, body.left() + half, layout.blocks_top, 100.0, half,
              "Counts", state.count_pairs);
    DrawSurveyMap(painter, state.model, layout.map, max_labels);
    DrawColourBar(painter, layout.colour_bar, state.model, figure_size);
    DrawLegend(painter, layout.legend, figure_size);
    DrawHistogram(painter, layout.histogram, state.model, figure_size);
}

void AddTitlePage(TPageFlow &flow, const TReportState &state) {
    flow.NewPage();
    flow.Add(flow.body.height(), [&state](QPainter &painter, const QRectF &) {
        DrawTitlePage(painter, state);
    });
}

// The suspects on a map that fills the rest of the page, when the title
// page's figure has no room to name them all.
void AddSuspectMap(TPageFlow &flow, const TReportState &state) {
    const size_t count = state.content.suspects->suspects.size();
    if (count <= NamesOnMap(LayOutTitle(state).map)) {
        return;
    }
    AddParagraph(flow,
                 QString("The map shows all %1 suspects ringed; the most "
                         "extreme are named where there is room for their "
                         "names. The table follows it.")
                     .arg(GroupedNumber(count)));
    const double t = figure_size;
    flow.Add(flow.Room(), [&state, t](QPainter &painter, const QRectF &box) {
        const QRectF frame(QPointF(box.left() + 6.2 * t, box.top() + t),
                           QPointF(box.right(), box.bottom() - 3.6 * t));
        DrawSurveyMap(painter, state.model, frame, page_map_names);
    });
}

// The suspects' table, worst first, with the later steps' columns when
// they are set; the map first when the title page could not name them all.
void AddSuspects(TPageFlow &flow, const TReportState &state) {
    const ReportContent &c = state.content;
    const std::vector<size_t> &suspects = c.suspects->suspects;
    flow.NewPage();
    AddHeading(flow,
               QString("Suspects: %1").arg(GroupedNumber(suspects.size())),
               4 * row_height);
    if (suspects.empty()) {
        AddParagraph(flow, "No station is a suspect.");
        return;
    }
    AddParagraph(
        flow,
        QString("Every suspect, the most extreme first (by |r2_clean \u2212 "
                "median|, see Method). Coordinates and heights in metres, "
                "value and r2 in mGal; z = r2 / sigma."));
    AddSuspectMap(flow, state);
    const Diagnosis *diagnosis = c.diagnosis;
    auto table = std::make_shared<Table>();
    table->columns = {{"#"},  {"Station", Qt::AlignLeft, name_column_most},
                      {"x"},  {"y"},
                      {"h"},  {"Value"},
                      {"r2"}, {"z"}};
    if (diagnosis != nullptr) {
        table->columns.push_back({"Cause", Qt::AlignLeft, cause_column_most});
        table->columns.push_back(
            {"Proposed fix", Qt::AlignLeft, remark_column_most});
    }
    table->rows = suspects.size();
    table->continued = "Suspects";
    const TQcStations &stations = *c.stations;
    table->cell = [&suspects, &stations, diagnosis](size_t row,
                                                    size_t column) -> QString {
        const size_t k = suspects[row];
        const QcStation &s = stations[k];
        switch (column) {
        case 0:
            return QString::number(row + 1);
        case 1:
            return QString::fromUtf8(
                stations.Name(k).data(),
                static_cast<qsizetype>(stations.Name(k).size()));
        case 2:
            return FixedOrEmpty(s.x, position_decimals);
        case 3:
            return FixedOrEmpty(s.y, position_decimals);
        case 4:
            return FixedOrEmpty(s.h, position_decimals);
        case 5:
            return FixedOrEmpty(s.value, value_decimals);
        case 6:
            return FixedOrEmpty(s.R2(), value_decimals);
        case 7:
            return FixedOrEmpty(s.Z(), z_decimals);
        default:
            break;
        }
        const StationDiagnosis *d =
            diagnosis != nullptr ? diagnosis->Of(k) : nullptr;
        if (d == nullptr) {
            return QString();
        }
        return column == 8 ? QString(CauseName(d->cause)) : FixText(*d);
    };
    AddTable(flow, table);
}

QString StationName(const TQcStations &stations, size_t k) {
    const std::string_view name = stations.Name(k);
    return QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size()));
}

// The surveys' table in its order: shifted first, then by the size of the
// offset; those that touch no other last.
std::vector<size_t> SurveyOrder(const SurveyOffsets &offsets) {
    std::vector<size_t> order(offsets.surveys.size());
    for (size_t s = 0; s < order.size(); ++s) {
        order[s] = s;
    }
    const auto size = [&offsets](size_t s) {
        const SurveyOffset &o = offsets.surveys[s];
        return o.linked ? std::fabs(o.offset) : -1.0;
    };
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
        const bool sa = offsets.surveys[a].shifted;
        const bool sb = offsets.surveys[b].shifted;
        return sa != sb ? sa : size(a) > size(b);
    });
    return order;
}

// What a survey's offset came to, a word or two.
QString SurveyStatus(const SurveyOffset &o) {
    if (!o.linked) {
        return "no contact";
    }
    if (o.shifted) {
        return "shifted";
    }
    return o.datum ? "datum" : "not shifted";
}

// The map of the surveys, each outlined (a shifted one in red with its
// offset) and, when there are few, named at its middle.
void DrawSurveysMap(QPainter &painter, const TFigureModel &model,
                    const SurveyGrouping &grouping, const QRectF &frame) {
    const TMapView view = DrawSurveyMap(painter, model, frame, 0);
    const std::vector<TFigureModel::SurveyOutline> &outlines = model.Surveys();
    if (outlines.size() > survey_map_names) {
        return;
    }
    painter.save();
    painter.setClipRect(view.Frame());
    painter.setFont(ReportFont(figure_size));
    painter.setPen(quiet);
    const QFontMetricsF metrics(painter.font());
    for (size_t s = 0; s < outlines.size() && s < grouping.Count(); ++s) {
        const std::vector<HullPoint> &hull = outlines[s].hull;
        if (hull.empty() || !outlines[s].label.empty()) {
            continue; // a shifted survey carries its label already
        }
        // The mean of the hull's corners: inside it, as the hull is convex.
        double x = 0.0, y = 0.0;
        for (const HullPoint &p : hull) {
            x += p.x / static_cast<double>(hull.size());
            y += p.y / static_cast<double>(hull.size());
        }
        const QString name = Text(grouping.names[s]);
        const QPointF at =
            view.ToPixel(x, y) - QPointF(0.5 * metrics.horizontalAdvance(name),
                                         -0.5 * metrics.ascent());
        // On a pale ground, as the shifted surveys' labels, to read over
        // the dots.
        painter.fillRect(QRectF(at.x() - 1.0, at.y() - metrics.ascent(),
                                metrics.horizontalAdvance(name) + 2.0,
                                metrics.height()),
                         name_ground);
        painter.drawText(at, name);
    }
    painter.restore();
}

// The surveys of a compilation: their offsets, the worst shifts first, and
// a map with each outlined; or why no offsets were estimated.
void AddSurveys(TPageFlow &flow, const TReportState &state) {
    const ReportContent &c = state.content;
    const SurveyGrouping &grouping = *c.grouping;
    const SurveyOffsets &offsets = *c.offsets;
    const SurveyOffsetOptions &o = c.survey_options;
    // Why there are no offsets takes a line or two: it follows the
    // suspects on their page.
    if (offsets.refusal == SurveyRefusal::None) {
        flow.NewPage();
    }
    AddHeading(flow,
               QString("Surveys: %1")
                   .arg(GroupedNumber(static_cast<int64_t>(grouping.Count()))),
               4 * row_height);
    QString unnamed;
    if (grouping.unnamed > 0 && !grouping.NoneNamed()) {
        unnamed = QString(" %1 no survey of their own and form the survey %2.")
                      .arg(Counted(static_cast<size_t>(grouping.unnamed),
                                   "station has", "stations have"),
                           Text(std::string(no_survey_name)));
    }
    switch (offsets.refusal) {
    case SurveyRefusal::None:
        break;
    case SurveyRefusal::OneSurvey:
        AddParagraph(flow, QString("The stations' surveys come from %1. The "
                                   "stations form one survey: there is no "
                                   "offset to estimate.%2")
                               .arg(SurveySourceText(c, true), unnamed));
        return;
    case SurveyRefusal::GroupingLooksWrong:
        AddParagraph(
            flow,
            QString("The stations' surveys come from %1. Most stations are in "
                    "surveys of fewer than %2, or there are more than %3 "
                    "surveys: the grouping looks wrong, and no offsets were "
                    "estimated.%4")
                .arg(SurveySourceText(c, true),
                     QString::number(o.min_survey_stations),
                     QString::number(o.max_surveys), unnamed));
        return;
    case SurveyRefusal::UnknownReference:
        AddParagraph(flow, QString("No survey is named %1, the reference "
                                   "survey asked for: no offsets were "
                                   "estimated.")
                               .arg(Text(o.reference)));
        return;
    }
    const int64_t shifted = ShiftedSurveys(offsets);
    QString levelled;
    if (shifted > 0) {
        const int64_t fewer = c.suspects_levelled;
        levelled = QString(" The suspects were judged with the shifted surveys "
                           "levelled: %1 %2 than on the values as they are.")
                       .arg(GroupedNumber(fewer < 0 ? -fewer : fewer),
                            fewer < 0 ? "more" : "fewer");
    }
    AddParagraph(
        flow,
        QString("The stations' surveys come from %1.%2 %3 shifted (an offset "
                "beyond %4 standard errors and beyond %5 mGal); the offsets "
                "were estimated from %6 where surveys meet (see Method). "
                "Offsets in mGal, above the datum: %7.%8 The shifted surveys "
                "first, then the largest "
                "offsets; \u201cin contact\u201d counts a survey's stations "
                "with a step to another survey, \u201csteps\u201d the "
                "independent information they hold.%9")
            .arg(SurveySourceText(c, true), unnamed,
                 shifted == 0 ? QString("No survey is")
                              : Counted(static_cast<size_t>(shifted),
                                        "survey is", "surveys are"),
                 QString::number(o.standard_errors, 'g', 6),
                 QString::number(o.offset_floor, 'g', 6),
                 Counted(static_cast<size_t>(offsets.steps), "station",
                         "stations"),
                 o.reference.empty()
                     ? QString("the level most stations agree on (the "
                               "station-weighted median of the offsets is 0)")
                     : QString("the survey %1, held at 0")
                           .arg(Text(o.reference)),
                 offsets.groups > 1
                     ? QString(" The surveys form %1 groups out of contact "
                               "with each other; each group has its own datum.")
                           .arg(offsets.groups)
                     : QString(),
                 levelled),
        false, body_size, 4 * row_height);
    auto order = std::make_shared<std::vector<size_t>>(SurveyOrder(offsets));
    const bool groups = offsets.groups > 1;
    auto table = std::make_shared<Table>();
    table->columns = {{"#"},
                      {"Survey", Qt::AlignLeft, name_column_most},
                      {"Stations"},
                      {"In contact"},
                      {"Steps"},
                      {"Offset"},
                      {"Standard error"},
                      {"", Qt::AlignLeft}};
    if (groups) {
        table->columns.push_back({"Group"});
    }
    table->rows = order->size();
    table->continued = "Surveys";
    table->cell = [order, &offsets, &grouping](size_t row,
                                               size_t column) -> QString {
        const size_t s = (*order)[row];
        const SurveyOffset &o = offsets.surveys[s];
        switch (column) {
        case 0:
            return QString::number(row + 1);
        case 1:
            return Text(grouping.names[s]);
        case 2:
            return GroupedNumber(o.stations);
        case 3:
            return GroupedNumber(o.in_contact);
        case 4:
            return o.linked ? FixedNumber(o.independent_steps, 1) : QString();
        case 5:
            return o.linked ? SignedNumber(o.offset, value_decimals)
                            : QString();
        case 6:
            return o.linked ? FixedOrEmpty(o.standard_error, value_decimals)
                            : QString();
        case 7:
            return SurveyStatus(o);
        default:
            return o.group >= 0 ? QString::number(o.group + 1) : QString();
        }
    };
    AddTable(flow, table);
    if (grouping.Count() < 2) {
        return;
    }
    if (flow.Room() < survey_map_least_share * flow.body.height()) {
        flow.NewPage();
    }
    flow.Space(row_height);
    const double t = figure_size;
    flow.Add(flow.Room(), [&state, &grouping, t](QPainter &painter,
                                                 const QRectF &box) {
        const QRectF frame(QPointF(box.left() + 6.2 * t, box.top() + t),
                           QPointF(box.right(), box.bottom() - 3.6 * t));
        DrawSurveysMap(painter, state.model, grouping, frame);
    });
}

// A step of 1, 2 or 5 times a power of ten near `raw` (> 0), for the
// ticks of an axis.
double TickStep(double raw) {
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    const double scaled = raw / power;
    return (scaled < 1.5   ? 1.0
            : scaled < 3.5 ? 2.0
            : scaled < 7.5 ? 5.0
                           : 10.0) *
           power;
}

// The range of `values` a plot shows: their `scatter_share` middle part,
// widened by a margin on each side, and never empty.
std::pair<double, double> ShownRange(std::vector<double> values) {
    if (values.empty()) {
        return {-1.0, 1.0};
    }
    const auto at = [&values](double share) {
        const auto k =
            static_cast<size_t>(share * static_cast<double>(values.size() - 1));
        std::nth_element(values.begin(),
                         values.begin() + static_cast<std::ptrdiff_t>(k),
                         values.end());
        return values[k];
    };
    double low = at(0.5 * (1.0 - scatter_share));
    double high = at(0.5 * (1.0 + scatter_share));
    const double margin = std::max(scatter_margin * (high - low),
                                   1e-3 * std::max(1.0, std::fabs(high)));
    low -= margin;
    high += margin;
    return {low, high};
}

// Ticks and numbers of one axis of the scatter, inside `frame`.
void DrawScatterAxis(QPainter &painter, const QRectF &frame, double low,
                     double high, bool horizontal) {
    const double tick = 3.0;
    const double step = TickStep((high - low) / scatter_ticks);
    const int decimals =
        std::clamp(static_cast<int>(std::ceil(-std::log10(step) - 1e-9)), 0, 6);
    const QFontMetricsF metrics(painter.font());
    for (double v = std::ceil(low / step) * step; v <= high; v += step) {
        const QString label = FixedNumber(v, decimals);
        if (horizontal) {
            const double x =
                frame.left() + (v - low) / (high - low) * frame.width();
            painter.drawLine(QPointF(x, frame.bottom()),
                             QPointF(x, frame.bottom() + tick));
            TextAt(painter, x - 0.5 * metrics.horizontalAdvance(label),
                   frame.bottom() + tick + 1.0, label);
        } else {
            const double y =
                frame.bottom() - (v - low) / (high - low) * frame.height();
            painter.drawLine(QPointF(frame.left() - tick, y),
                             QPointF(frame.left(), y));
            TextAt(painter,
                   frame.left() - tick - 2.0 - metrics.horizontalAdvance(label),
                   y - 0.5 * metrics.height(), label);
        }
    }
}

// Stamps a round dot of `ink`, `diameter` pixels wide and antialiased, at
// each of `points` (pixels) onto `image` (premultiplied ARGB32), over what
// is there: a million dots in a fraction of a second, where QPainter strokes
// each as a curve.
void StampDots(QImage &image, const std::vector<QPointF> &points,
               const QColor &ink, double diameter) {
    const double radius = 0.5 * diameter;
    const int reach = static_cast<int>(std::ceil(radius));
    const int side = 2 * reach + 1;
    // The dot's coverage of each pixel of its square, 0..255, by the
    // distance of the pixel's centre from the dot's.
    std::vector<uint8_t> cover(static_cast<size_t>(side * side));
    for (int j = 0; j < side; ++j) {
        for (int i = 0; i < side; ++i) {
            const double d = std::hypot(i - reach, j - reach);
            cover[static_cast<size_t>(j * side + i)] = static_cast<uint8_t>(
                std::lround(255.0 * std::clamp(radius + 0.5 - d, 0.0, 1.0)));
        }
    }
    const int alpha = ink.alpha();
    const uint32_t r = static_cast<uint32_t>(ink.red() * alpha / 255);
    const uint32_t g = static_cast<uint32_t>(ink.green() * alpha / 255);
    const uint32_t b = static_cast<uint32_t>(ink.blue() * alpha / 255);
    const int width = image.width(), height = image.height();
    for (const QPointF &p : points) {
        const int cx = static_cast<int>(std::lround(p.x()));
        const int cy = static_cast<int>(std::lround(p.y()));
        for (int j = 0; j < side; ++j) {
            const int y = cy + j - reach;
            if (y < 0 || y >= height) {
                continue;
            }
            auto *line = reinterpret_cast<uint32_t *>(image.scanLine(y));
            for (int i = 0; i < side; ++i) {
                const int x = cx + i - reach;
                const uint32_t c = cover[static_cast<size_t>(j * side + i)];
                if (x < 0 || x >= width || c == 0) {
                    continue;
                }
                // Source over destination, premultiplied: the dot's colour
                // at coverage c, and what lies beneath at 1 - its alpha.
                const uint32_t a = alpha * c / 255;
                const uint32_t keep = 255 - a;
                const uint32_t d = line[x];
                const auto mix = [&](int shift, uint32_t source) {
                    return ((source * c / 255 +
                             ((d >> shift) & 0xff) * keep / 255) &
                            0xff)
                           << shift;
                };
                line[x] =
                    (((a + ((d >> 24) & 0xff) * keep / 255) & 0xff) << 24) |
                    mix(16, r) | mix(8, g) | mix(0, b);
            }
        }
    }
}

// The density check's scatter in `box`: r2 against the height residual of
// every station the check regressed, and the fitted line. A few thousand
// points are drawn as vectors; more as an image, as the maps' dots are.
void DrawDensityScatter(QPainter &painter, const QRectF &box,
                        const TQcStations &stations,
                        const DensityCheck &check) {
    // Each point (height residual, r2) first, then where it lies on the
    // page, in place: a million stations take 16 bytes each.
    std::vector<QPointF> points;
    for (size_t k = 0; k < stations.Size(); ++k) {
        const QcStation &s = stations[k];
        if (InDensityCheck(s) && std::isfinite(s.R2())) {
            points.emplace_back(s.h_estimate - s.h, s.R2());
        }
    }
    const auto range = [&points](bool x) {
        std::vector<double> values(points.size());
        for (size_t i = 0; i < points.size(); ++i) {
            values[i] = x ? points[i].x() : points[i].y();
        }
        return ShownRange(std::move(values));
    };
    const auto [x0, x1] = range(true);
    const auto [y0, y1] = range(false);
    const double t = figure_size;
    const QRectF frame(QPointF(box.left() + 7.0 * t, box.top() + 0.5 * t),
                       QPointF(box.right() - t, box.bottom() - 4.0 * t));
    const auto at = [&](double x, double y) {
        return QPointF(frame.left() + (x - x0) / (x1 - x0) * frame.width(),
                       frame.bottom() - (y - y0) / (y1 - y0) * frame.height());
    };
    for (QPointF &p : points) {
        p = at(p.x(), p.y());
    }
    const size_t regressed = points.size();
    points.erase(std::remove_if(
                     points.begin(), points.end(),
                     [&frame](const QPointF &p) { return !frame.contains(p); }),
                 points.end());
    const size_t beyond = regressed - points.size();
    painter.save();
    if (points.size() <= scatter_vector_most) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(scatter_ink);
        for (const QPointF &p : points) {
            painter.drawEllipse(p, 0.5 * scatter_dot, 0.5 * scatter_dot);
        }
    } else {
        QImage image((frame.size() * dot_sharpness).toSize(),
                     QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        for (QPointF &p : points) {
            p = (p - frame.topLeft()) * dot_sharpness;
        }
        // Many dots overlap: each is fainter, so that their density shows.
        QColor ink = scatter_ink;
        ink.setAlpha(
            std::clamp(static_cast<int>(
                           scatter_ink.alpha() *
                           std::sqrt(static_cast<double>(scatter_vector_most) /
                                     static_cast<double>(points.size()))),
                       scatter_faintest, scatter_ink.alpha()));
        StampDots(image, points, ink, scatter_dot * dot_sharpness);
        painter.drawImage(frame, image);
    }
    // The fitted line, and 0 where r2 would lie with the right density.
    painter.setClipRect(frame);
    painter.setPen(QPen(rule_grey, 0.8, Qt::DashLine));
    painter.drawLine(at(x0, 0.0), at(x1, 0.0));
    painter.setPen(QPen(fit_ink, 1.4));
    painter.drawLine(at(x0, check.intercept + check.slope * x0),
                     at(x1, check.intercept + check.slope * x1));
    painter.setClipping(false);
    painter.setPen(QPen(ink, 0.6));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(frame);
    painter.setFont(ReportFont(figure_size));
    DrawScatterAxis(painter, frame, x0, x1, true);
    DrawScatterAxis(painter, frame, y0, y1, false);
    const QFontMetricsF metrics(painter.font());
    const QString x_title = "height residual r2_h = h_estimate \u2212 h (m)";
    TextAt(painter,
           frame.center().x() - 0.5 * metrics.horizontalAdvance(x_title),
           frame.bottom() + 2.2 * t, x_title);
    painter.save();
    painter.translate(box.left(), frame.center().y());
    painter.rotate(-90.0);
    const QString y_title = "r2 (mGal)";
    TextAt(painter, -0.5 * metrics.horizontalAdvance(y_title), 0.0, y_title);
    painter.restore();
    if (beyond > 0) {
        painter.setPen(quiet);
        const QString note =
            Counted(beyond, "station", "stations") + " beyond the frame";
        TextAt(painter, frame.right() - metrics.horizontalAdvance(note) - 3.0,
               frame.top() + 2.0, note);
    }
    painter.restore();
}

// Decimals that show a standard error `error` to two significant digits,
// `fewest` at least.
int ErrorDecimals(double error, int fewest) {
    if (!(error > 0.0) || !std::isfinite(error)) {
        return fewest;
    }
    return std::clamp(static_cast<int>(std::ceil(-std::log10(error))) + 1,
                      fewest, most_error_decimals);
}

// The density check: what the fit says, with its scatter, or why it was
// skipped.
void AddDensity(TPageFlow &flow, const TReportState &state) {
    const DensityCheck &d = state.content.diagnosis->density;
    flow.NewPage();
    AddHeading(flow, "Density check", 3 * row_height);
    if (!d.done) {
        AddParagraph(flow, QString("The check was skipped: %1. The survey was "
                                   "reduced with %2.")
                               .arg(Text(d.skipped_because),
                                    Density(state.content.density)));
        return;
    }
    AddParagraph(
        flow,
        QString("Over %1 good stations, a robust fit of r2 against the height "
                "residual has a slope of %2 \u00b1 %3 mGal/m: the data suggest "
                "a reduction density of %4 \u00b1 %5 g/cm\u00b3. The survey "
                "was reduced with %6, %7.")
            .arg(
                GroupedNumber(d.stations),
                SignedNumber(d.slope, ErrorDecimals(d.slope_error, 4)),
                FixedNumber(d.slope_error, ErrorDecimals(d.slope_error, 4)),
                FixedNumber(d.density, ErrorDecimals(d.density_error, 2)),
                FixedNumber(d.density_error, ErrorDecimals(d.density_error, 2)),
                Density(d.used),
                d.differs ? QString("more than three standard errors away: "
                                    "a reduction with the suggested density "
                                    "would fit the heights better")
                          : QString("within three standard errors of it")));
    const TQcStations &stations = *state.content.stations;
    const double height =
        std::min(flow.Room(), scatter_height_share * flow.body.height());
    flow.Add(height, [&stations, &d](QPainter &painter, const QRectF &box) {
        DrawDensityScatter(painter, box, stations, d);
    });
    AddParagraph(flow,
                 "Each dot is a good station; the red line is the fit, the "
                 "dashed line r2 = 0, where a right density leaves the "
                 "residuals whatever the heights.",
                 false, figure_size);
}

// One station whose height is farther from the DEM's than the tolerance.
struct HeightOff {
    size_t station = 0;
    double dh = 0.0; // h - the DEM's, metres
};

// The stations beyond the DEM's tolerance, the largest |dh| first.
void AddHeights(TPageFlow &flow, const TReportState &state) {
    const ReportContent &c = state.content;
    const TQcStations &stations = *c.stations;
    const std::vector<double> &dem = *c.dem;
    auto beyond = std::make_shared<std::vector<HeightOff>>();
    int64_t outside = 0;
    for (size_t k = 0; k < stations.Size(); ++k) {
        const double dh = stations[k].h - dem[k];
        if (!std::isfinite(dem[k])) {
            ++outside;
        } else if (std::fabs(dh) > c.dem_tolerance) {
            beyond->push_back({k, dh});
        }
    }
    std::stable_sort(beyond->begin(), beyond->end(),
                     [](const HeightOff &a, const HeightOff &b) {
                         return std::fabs(a.dh) > std::fabs(b.dh);
                     });
    flow.NewPage();
    AddHeading(flow, "Heights against the DEM", 4 * row_height);
    AddParagraph(
        flow,
        QString("%1 farther than %2 from the DEM%3, the largest |dh| first; "
                "dh = h \u2212 the DEM's height, metres.%4")
            .arg(Counted(beyond->size(), "station lies", "stations lie"),
                 Metres(c.dem_tolerance),
                 c.dem_name.empty() ? QString() : " " + Text(c.dem_name),
                 outside > 0 ? QString(" %1 outside it.")
                                   .arg(Counted(outside, "station lies",
                                                "stations lie"))
                             : QString()));
    if (beyond->empty()) {
        return;
    }
    const Diagnosis *diagnosis = c.diagnosis;
    auto table = std::make_shared<Table>();
    table->columns = {{"Station", Qt::AlignLeft, name_column_most},
                      {"x"},
                      {"y"},
                      {"h"},
                      {"h of the DEM"},
                      {"dh"},
                      {"Cause", Qt::AlignLeft, cause_column_most}};
    table->rows = beyond->size();
    table->continued = "Heights";
    table->cell = [beyond, &stations, &dem, diagnosis](size_t row,
                                                       size_t column) {
        const HeightOff &off = (*beyond)[row];
        const QcStation &s = stations[off.station];
        switch (column) {
        case 0:
            return StationName(stations, off.station);
        case 1:
            return FixedOrEmpty(s.x, position_decimals);
        case 2:
            return FixedOrEmpty(s.y, position_decimals);
        case 3:
            return FixedOrEmpty(s.h, position_decimals);
        case 4:
            return FixedOrEmpty(dem[off.station], position_decimals);
        case 5:
            return SignedNumber(off.dh, position_decimals);
        default: {
            const StationDiagnosis *d =
                diagnosis != nullptr ? diagnosis->Of(off.station) : nullptr;
            return d != nullptr ? QString(CauseName(d->cause)) : QString();
        }
        }
    };
    AddTable(flow, table);
}

// Stations sharing a position, and pairs closer than the distance asked.
void AddDuplicates(TPageFlow &flow, const TReportState &state) {
    const ReportContent &c = state.content;
    const DuplicateFindings &duplicates = *c.duplicates;
    const TQcStations &stations = *c.stations;
    AddHeading(flow, "Duplicates and close pairs", 4 * row_height);
    if (duplicates.positions.empty() && duplicates.close_pairs.empty()) {
        AddParagraph(flow, c.duplicate_distance > 0.0
                               ? QString("No two stations share a position, "
                                         "and no two lie closer than %1.")
                                     .arg(Metres(c.duplicate_distance))
                               : QString("No two stations share a position "
                                         "(close pairs were not looked "
                                         "for)."));
        return;
    }
    if (!duplicates.positions.empty()) {
        AddParagraph(flow,
                     QString("%1 by more than one station. The first in "
                             "file order is the one kept; the others were "
                             "estimated against its value. Values in mGal.")
                         .arg(Counted(duplicates.positions.size(),
                                      "position held", "positions held")),
                     false, body_size, 4 * row_height);
        // One row per station of a position.
        auto rows = std::make_shared<std::vector<std::pair<size_t, size_t>>>();
        for (size_t p = 0; p < duplicates.positions.size(); ++p) {
            for (size_t j = 0; j < duplicates.positions[p].stations.size();
                 ++j) {
                rows->emplace_back(p, j);
            }
        }
        auto table = std::make_shared<Table>();
        table->columns = {{"Position"},
                          {"Station", Qt::AlignLeft, name_column_most},
                          {"x"},
                          {"y"},
                          {"Value"},
                          {"Value \u2212 kept"},
                          {"Status", Qt::AlignLeft}};
        table->rows = rows->size();
        table->continued = "Duplicate positions";
        table->cell = [rows, &duplicates, &stations](size_t row,
                                                     size_t column) {
            const auto [p, j] = (*rows)[row];
            const std::vector<size_t> &at = duplicates.positions[p].stations;
            const size_t k = at[j];
            const QcStation &s = stations[k];
            switch (column) {
            case 0:
                return j == 0 ? QString::number(p + 1) : QString();
            case 1:
                return StationName(stations, k);
            case 2:
                return FixedOrEmpty(s.x, position_decimals);
            case 3:
                return FixedOrEmpty(s.y, position_decimals);
            case 4:
                return FixedOrEmpty(s.value, value_decimals);
            case 5:
                return j == 0 ? QString()
                              : SignedNumber(s.value - stations[at[0]].value,
                                             value_decimals);
            default:
                return j == 0 ? QString("kept") : QString(StatusText(s.status));
            }
        };
        AddTable(flow, table);
        flow.Space(row_height);
    }
    if (!duplicates.close_pairs.empty()) {
        AddParagraph(
            flow,
            QString("%1 of stations at different positions closer than "
                    "%2%3. Distances in metres, the difference in mGal.")
                .arg(Counted(duplicates.close_pairs.size(), "pair", "pairs"),
                     Metres(c.duplicate_distance),
                     duplicates.close_pairs_cut ? " (the first of more)" : ""),
            false, body_size, 4 * row_height);
        auto table = std::make_shared<Table>();
        table->columns = {{"Station", Qt::AlignLeft, name_column_most},
                          {"Other station", Qt::AlignLeft, name_column_most},
                          {"Distance"},
                          {"Value"},
                          {"Other value"},
                          {"Difference"}};
        table->rows = duplicates.close_pairs.size();
        table->continued = "Close pairs";
        table->cell = [&duplicates, &stations](size_t row, size_t column) {
            const ClosePair &pair = duplicates.close_pairs[row];
            const QcStation &a = stations[pair.first];
            const QcStation &b = stations[pair.second];
            switch (column) {
            case 0:
                return StationName(stations, pair.first);
            case 1:
                return StationName(stations, pair.second);
            case 2:
                return FixedNumber(pair.distance, 3);
            case 3:
                return FixedOrEmpty(a.value, value_decimals);
            case 4:
                return FixedOrEmpty(b.value, value_decimals);
            default:
                return SignedNumber(b.value - a.value, value_decimals);
            }
        };
        AddTable(flow, table);
    }
}

// The method's paragraph on the surveys' offsets, through `section`
// (its title, its text).
void AddSurveyMethod(
    const std::function<void(const QString &, const QString &)> &section,
    const ReportContent &c) {
    const SurveyOffsetOptions &o = c.survey_options;
    section(
        "The surveys' offsets",
        QString(
            "A compilation of surveys can carry a whole survey shifted by a "
            "constant: a wrong base value, an old datum. Each station's "
            "survey came from %1 (--survey-from-name takes it from the "
            "names, by a pattern or “auto”; --columns "
            "survey=FIELD names the field). Where a station has stations of "
            "its own survey and of others within %2, a local model of its "
            "%3 nearest stations at most, a smooth field (%4) plus one "
            "constant per survey present, weighted by distance and robust "
            "to single blunders (suspects and duplicates weigh %5), gives "
            "the step from its survey to the others across the seam, "
            "whether the surveys overlap or only abut. Each step is one "
            "equation: its survey's offset minus the mix of the others' "
            "offsets equals minus the step. The equations are solved for "
            "one offset per survey by robust least squares, each weighted "
            "by its share of the independent information, as neighbouring "
            "steps share stations. The datum is %6. A weak prior holds a "
            "survey with little contact near the datum; it fades for "
            "offsets beyond the floor, so that a well measured shift is not "
            "shrunk. A survey's standard error comes from the scatter of "
            "its steps and their independent number. A survey is shifted "
            "when its offset is beyond %7 standard errors and beyond the "
            "floor of %8 mGal (--offset-floor); one that touches no other "
            "has no offset. The suspects are then judged on the values with "
            "the shifted surveys' offsets taken off, the stations whose "
            "estimates reach across a shifted survey's edge estimated again "
            "(%9 here), so that the edge of a shifted survey does not make "
            "a ring of suspects; the result file keeps the values as they "
            "are.")
            .arg(SurveySourceText(c, true),
                 Metres(c.parameters.search_distance),
                 QString::number(o.max_neighbours),
                 o.trend == SurveyTrend::Quadratic
                     ? QString("a quadratic where the neighbourhood holds "
                               "enough stations, else a plane")
                     : QString("a plane"),
                 QString::number(o.down_weight, 'g', 6),
                 o.reference.empty()
                     ? QString("the level most stations agree on: the "
                               "station-weighted median of the offsets is 0 "
                               "(--reference-survey holds a survey at 0 "
                               "instead)")
                     : QString("the survey %1, held at 0 (--reference-survey)")
                           .arg(Text(o.reference)),
                 QString::number(o.standard_errors, 'g', 6),
                 QString::number(o.offset_floor, 'g', 6),
                 GroupedNumber(c.estimated_again)));
}

// The method in plain words, with this run's numbers and the settings that
// changed them.
void AddMethod(TPageFlow &flow, const TReportState &state) {
    const ReportContent &c = state.content;
    const RunParameters &p = c.parameters;
    const SuspectOptions &rule = c.suspect_rule;
    const RunFigures &f = *c.figures;
    const SuspectFindings &found = *c.suspects;
    flow.NewPage();
    AddHeading(flow, "Method", 0.0);
    const auto section = [&flow](const QString &title, const QString &text) {
        AddParagraph(flow, title, true, body_size + 1, 3 * row_height);
        AddParagraph(flow, text);
    };
    section(
        "The residuals",
        QString(
            "Each station is estimated from its neighbours by kriging: the "
            "stations in a square window around it are kriged onto a grid of "
            "%1 cells, and the grid is read back at the station. The window's "
            "half-size starts at %2 and grows by %3 until it holds at least "
            "%4 stations; the kriging takes the stations within %2 of each "
            "grid node, at most %4. This is done twice: with every station of "
            "the window (r1 = that estimate \u2212 the value) and with the "
            "station itself left out (r2 = the leave-one-out estimate \u2212 "
            "the value). r2 says how far a station lies from what its "
            "neighbours predict, whatever its own value. sigma is the "
            "standard error of the leave-one-out estimate under the variogram "
            "fitted in the station's window, and z = r2 / sigma. A station "
            "whose window never holds %4 stations is skipped; one whose "
            "estimate could not be made (too few stations near the grid "
            "nodes) is blank.")
            .arg(Metres(p.cell_size), Metres(p.search_distance),
                 Metres(p.increment), QString::number(p.min_points)));
    section(
        "The suspects",
        QString(
            "m is the median of r2 over the %1 stations with a residual (%2) "
            "and s its robust scale, 1.4826 times the median absolute "
            "deviation from m (%3). A station stands out when |r2 \u2212 m| "
            "is more than %4 s. The stations that stand out are tested one by "
            "one, the most extreme first. The stations whose estimates used "
            "the one tested are estimated again without it, and it is a "
            "suspect when it still stands out against the larger of s and "
            "%5 times the robust scale of its %6 nearest neighbours' "
            "residuals: on rough ground, where every estimate misses by more, "
            "the bar is higher, and a station that does not pass clears the "
            "stations beside it that stood out less, as the same ground. From "
            "then on a suspect's neighbours are judged without it (r2_clean), "
            "so the ring of good stations around a blunder falls back below "
            "the threshold. At the end a suspect whose own r2_clean, with the "
            "suspects found after it left out too, no longer stands out is "
            "let go. This run tested %7 stations, made %8 estimates again and "
            "found %9 suspects, listed by |r2_clean \u2212 m|.")
            .arg(GroupedNumber(f.with_r2), Mgal(f.median),
                 std::isfinite(f.scale)
                     ? FixedNumber(f.scale, value_decimals) + " mGal"
                     : QString("none"),
                 QString::number(rule.threshold, 'g', 6),
                 QString::number(rule.local_share, 'g', 6),
                 QString::number(rule.local_neighbours),
                 GroupedNumber(found.tests),
                 GroupedNumber(found.estimated_again),
                 GroupedNumber(f.suspects)));
    if (c.diagnosis != nullptr) {
        const DiagnosisOptions o;
        section(
            "The causes",
            QString(
                "A suspect's leave-one-out estimate does not depend on its "
                "own value, so each usual blunder is tried as a correction "
                "of the value and judged by the residual it would leave: the "
                "sign reversed (sign); the value times or over ten (decimal); "
                "two adjacent digits of the value as written swapped "
                "(digits); the value reduced again with another height, at "
                "%1 mGal/m for the density %2 (height): the DEM's height "
                "where it lies farther than the tolerance, or without a DEM "
                "the height kriged from the neighbours' heights where it "
                "differs from the station's by more than %3 robust scales "
                "of such differences; the value of a station at the same "
                "position or of a close pair, when it differs by more than "
                "the threshold (duplicate). A correction fits when the "
                "residual it leaves lies within %4 of the scales the suspect "
                "was judged by, widened for a height correction by the "
                "reference height's own error. The cause is the best fit, "
                "and the proposed fix its corrected value (and height). "
                "When another cause fits within %5 scale of the best, the "
                "suspect is ambiguous and the fitting causes are named; "
                "when none fits it is unexplained, and its field record is "
                "the place to look.")
                .arg(FixedNumber(HeightGradient(c.density), 4),
                     Density(c.density),
                     QString::number(o.sharp_scales, 'g', 6),
                     QString::number(o.fit_scales, 'g', 6),
                     QString::number(o.ambiguity_scales, 'g', 6)));
        section(
            "The density check",
            QString(
                "A survey reduced with the wrong density leaves residuals "
                "that follow the heights: a station higher than its "
                "neighbours' heights predict gains %1 mGal/m of residual per "
                "g/cm\u00b3 the density is off (the Bouguer slab). Each "
                "station's height is kriged from its neighbours' heights "
                "with the weights of its value, and the height residual is "
                "r2_h = h_estimate \u2212 h. The check fits r2 = a + b "
                "\u00d7 r2_h over the good stations (judged, not suspects, "
                "with both heights) by Huber's robust regression, and "
                "suggests the density used + b / %1, with the standard "
                "error of b scaled alike. It is skipped when the stations "
                "have no heights, too few have a height estimate, or the "
                "neighbours predict the heights too closely for the "
                "residuals to tell a density.")
                .arg(QString::number(slab_gradient, 'g', 6)));
    }
    if (HasSurveys(c)) {
        AddSurveyMethod(section, c);
    }
    if (HasDem(c)) {
        section("Heights",
                QString("Each station's height is compared with the DEM's "
                        "at its position. A station farther than %1 from it "
                        "is listed with dh = h \u2212 the DEM's height, "
                        "suspect or not; one that is not a suspect is "
                        "counted as a height off the DEM only.")
                    .arg(Metres(c.dem_tolerance)));
    }
    section("Duplicates and close pairs",
            QString("Stations at one position are kept once, the first in "
                    "file order; the later ones are estimated against its "
                    "value and listed as duplicates. Stations at different "
                    "positions closer than %1 are listed as close pairs: a "
                    "repeated reading, or one whose coordinate was misplaced.")
                .arg(c.duplicate_distance > 0.0
                         ? Metres(c.duplicate_distance)
                         : QString("a distance (here none: not looked for)")));
    section("Numbers",
            "Coordinates and heights are in metres as the survey file gives "
            "them, values and residuals in mGal. Numbers are written with a "
            "point as the decimal separator and commas between thousands, "
            "whatever the reader's locale.");

    // The settings of the run beside their defaults.
    AddParagraph(flow, "The settings of this run", true, body_size + 1,
                 5 * row_height);
    const RunParameters d;
    const SuspectOptions rule_default;
    const auto changed = [](double value, double default_value) {
        return value == default_value ? QString() : QString("changed");
    };
    auto table = std::make_shared<Table>();
    table->columns = {{"Setting", Qt::AlignLeft},
                      {"This run"},
                      {"Default"},
                      {"", Qt::AlignLeft}};
    std::vector<std::array<QString, 4>> rows = {
        {"search distance", Metres(p.search_distance),
         Metres(d.search_distance),
         changed(p.search_distance, d.search_distance)},
        {"increment", Metres(p.increment), Metres(d.increment),
         changed(p.increment, d.increment)},
        {"minimum stations N", QString::number(p.min_points),
         QString::number(d.min_points), changed(p.min_points, d.min_points)},
        {"cell size", Metres(p.cell_size), Metres(d.cell_size),
         changed(p.cell_size, d.cell_size)},
        {"suspect threshold, robust scales",
         QString::number(rule.threshold, 'g', 6),
         QString::number(rule_default.threshold, 'g', 6),
         changed(rule.threshold, rule_default.threshold)},
        {"neighbours of the local scale",
         QString::number(rule.local_neighbours),
         QString::number(rule_default.local_neighbours),
         changed(rule.local_neighbours, rule_default.local_neighbours)},
        {"share of the local scale", QString::number(rule.local_share, 'g', 6),
         QString::number(rule_default.local_share, 'g', 6),
         changed(rule.local_share, rule_default.local_share)},
        {"duplicate distance", Metres(c.duplicate_distance), Metres(1.0),
         changed(c.duplicate_distance, 1.0)},
    };
    const DiagnosisOptions diagnosis_default;
    if (c.diagnosis != nullptr) {
        rows.push_back({"reduction density, g/cm\u00b3",
                        QString::number(c.density, 'g', 6),
                        QString::number(diagnosis_default.density, 'g', 6),
                        changed(c.density, diagnosis_default.density)});
    }
    if (HasDem(c)) {
        rows.push_back(
            {"DEM tolerance", Metres(c.dem_tolerance),
             Metres(diagnosis_default.dem_tolerance),
             changed(c.dem_tolerance, diagnosis_default.dem_tolerance)});
    }
    if (HasSurveys(c)) {
        const SurveyOffsetOptions &o = c.survey_options;
        const SurveyOffsetOptions survey_default;
        rows.push_back(
            {"surveys from", SurveySourceText(c, false), "the source's field",
             c.survey_from_name.empty() ? QString() : QString("changed")});
        rows.push_back(
            {"reference survey",
             o.reference.empty() ? QString("the median") : Text(o.reference),
             "the median",
             o.reference.empty() ? QString() : QString("changed")});
        rows.push_back({"offset floor, mGal",
                        QString::number(o.offset_floor, 'g', 6),
                        QString::number(survey_default.offset_floor, 'g', 6),
                        changed(o.offset_floor, survey_default.offset_floor)});
    }
    table->rows = rows.size();
    table->continued = "Settings";
    table->cell = [rows](size_t row, size_t column) {
        return rows[row][column];
    };
    AddTable(flow, table);
    if (!c.notes.empty()) {
        flow.Space(row_height);
        AddParagraph(flow, "What the run noted", true, body_size + 1,
                     3 * row_height);
        for (const std::string &note : c.notes) {
            AddParagraph(flow, Text(note));
        }
    }
}

// The header and footer of page `number` (from 1) of `count`.
void DrawFrame(QPainter &painter, const TReportState &state, size_t number,
               size_t count) {
    const QRectF &body = state.body;
    painter.save();
    painter.setFont(ReportFont(header_size, true));
    painter.setPen(ink);
    const double header_top = body.top() - 2.6 * header_size - 6.0;
    const QFontMetricsF metrics(painter.font());
    const QString name = metrics.elidedText(
        Text(state.content.source.name), Qt::ElideMiddle, 0.6 * body.width());
    TextAt(painter, body.left(), header_top, name);
    painter.setFont(ReportFont(header_size));
    painter.setPen(quiet);
    const QString right = report_title;
    TextAt(painter,
           body.right() -
               QFontMetricsF(painter.font()).horizontalAdvance(right),
           header_top, right);
    painter.setPen(QPen(rule_grey, 0.6));
    const double rule = header_top + 1.6 * header_size;
    painter.drawLine(QPointF(body.left(), rule), QPointF(body.right(), rule));
    const QString page = QString("Page %1 of %2").arg(number).arg(count);
    painter.setPen(quiet);
    const double footer_top = body.bottom() + 1.6 * header_size;
    TextAt(painter,
           body.center().x() -
               0.5 * QFontMetricsF(painter.font()).horizontalAdvance(page),
           footer_top, page);
    painter.restore();
}

// The pages, in the order the sections come.
std::vector<Page> LayOut(const TReportState &state) {
    TPageFlow flow(state.body);
    AddTitlePage(flow, state);
    AddSuspects(flow, state);
    if (HasSurveys(state.content)) {
        AddSurveys(flow, state);
    }
    if (state.content.diagnosis != nullptr) {
        AddDensity(flow, state);
    }
    if (HasDem(state.content)) {
        AddHeights(flow, state);
    }
    AddDuplicates(flow, state);
    AddMethod(flow, state);
    return std::move(flow.pages);
}

// A device that writes a stream of bytes into a C file, counts them and
// keeps the last few (the PDF's trailer), and remembers the first error.
class TFileDevice : public QIODevice {
  public:
    explicit TFileDevice(std::FILE *file_) : file(file_) {
        open(QIODevice::WriteOnly);
    }
    bool isSequential() const override { return true; }
    int Error() const { return error; }
    qint64 Written() const { return written; }
    const QByteArray &Tail() const { return tail; }

  protected:
    qint64 readData(char *, qint64) override { return -1; }
    qint64 writeData(const char *data, qint64 size) override {
        if (error == 0 && std::fwrite(data, 1, static_cast<size_t>(size),
                                      file) != static_cast<size_t>(size)) {
            error = errno != 0 ? errno : EIO;
        }
        if (error != 0) {
            return -1;
        }
        written += size;
        tail.append(data, size);
        if (tail.size() > tail_kept) {
            tail.remove(0, tail.size() - tail_kept);
        }
        return size;
    }

  private:
    std::FILE *file;
    int error = 0;
    qint64 written = 0;
    QByteArray tail;
};

// A text as a PDF string: UTF-16 with its byte-order mark, in hex.
QByteArray PdfText(const QString &text) {
    QByteArray bytes("<FEFF");
    for (const QChar c : text) {
        bytes += QByteArray::number(c.unicode(), 16)
                     .rightJustified(4, '0')
                     .toUpper();
    }
    return bytes + ">";
}

// The PDF's document information again, with its author, appended as an
// incremental update (a new information dictionary, a cross-reference
// section for it and a trailer pointing back to the first): Qt's writer
// sets the title and the creator but has no author. The update is left out
// when the trailer Qt wrote cannot be read.
void AppendAuthor(TFileDevice &device, const QString &title,
                  const QString &author, const QString &creator,
                  const QDateTime &written) {
    const QString tail = QString::fromLatin1(device.Tail());
    const QRegularExpression trailer(
        "trailer\\s*<<(.*)>>\\s*startxref\\s+(\\d+)\\s+%%EOF\\s*$",
        QRegularExpression::DotMatchesEverythingOption);
    const QRegularExpressionMatch found = trailer.match(tail);
    const QRegularExpressionMatch size =
        QRegularExpression("/Size (\\d+)").match(found.captured(1));
    const QRegularExpressionMatch root =
        QRegularExpression("/Root (\\d+ \\d+) R").match(found.captured(1));
    if (!found.hasMatch() || !size.hasMatch() || !root.hasMatch()) {
        return;
    }
    const qint64 object = size.captured(1).toLongLong();
    const qint64 object_at = device.Written();
    const int offset = written.offsetFromUtc() / 60;
    const QByteArray date =
        "(D:" + written.toString("yyyyMMddHHmmss").toLatin1() +
        (offset < 0 ? "-" : "+") +
        QByteArray::number(std::abs(offset) / 60).rightJustified(2, '0') + "'" +
        QByteArray::number(std::abs(offset) % 60).rightJustified(2, '0') + "')";
    QByteArray update = "\n" + QByteArray::number(object) +
                        " 0 obj\n<<\n/Title " + PdfText(title) + "\n/Author " +
                        PdfText(author) + "\n/Creator " + PdfText(creator) +
                        "\n/Producer " + PdfText(QString("Qt ") + qVersion()) +
                        "\n/CreationDate " + date + "\n>>\nendobj\n";
    const qint64 xref_at = object_at + update.size();
    update +=
        "xref\n0 1\n0000000000 65535 f \n" + QByteArray::number(object) +
        " 1\n" + QByteArray::number(object_at + 1).rightJustified(10, '0') +
        " 00000 n \ntrailer\n<<\n/Size " + QByteArray::number(object + 1) +
        "\n/Root " + root.captured(1).toLatin1() + " R\n/Info " +
        QByteArray::number(object) + " 0 R\n/Prev " +
        found.captured(2).toLatin1() + "\n>>\nstartxref\n" +
        QByteArray::number(xref_at) + "\n%%EOF\n";
    device.write(update);
}

// Paints the report into `file`. Throws FileError naming `path` when it
// cannot be written.
void PaintReport(std::FILE *file, const std::string &path,
                 const ReportContent &content) {
    const auto fail = [&path](const std::string &why) {
        throw FileError("Cannot write the report " + path + ": " + why);
    };
    if (content.figures == nullptr || content.stations == nullptr ||
        content.suspects == nullptr || content.duplicates == nullptr) {
        fail("the run's records are missing");
    }
    // The maps outline the surveys as the run's figure does.
    TFigureModel model(HeaderOf(content), *content.figures, *content.stations,
                       *content.suspects, *content.duplicates);
    if (HasSurveys(content)) {
        model.SetSurveys(*content.grouping, *content.offsets);
    }
    const TReportState state{content,
                             std::move(model),
                             BodyOf(content.paper),
                             FilePairs(content),
                             ParameterPairs(content),
                             CountPairs(content)};
    const std::vector<Page> pages = LayOut(state);

    TFileDevice device(file);
    const QString title =
        QString("%1: %2").arg(report_title, Text(content.source.name));
    const QString creator = Text(content.program + " " + content.version);
    {
        QPdfWriter writer(&device);
        writer.setResolution(points_per_inch);
        writer.setPageLayout(QPageLayout(PageSizeOf(content.paper),
                                         QPageLayout::Portrait,
                                         QMarginsF(0, 0, 0, 0)));
        writer.setTitle(title);
        writer.setCreator(creator);
        QPainter painter;
        if (!painter.begin(&writer)) {
            fail(device.Error() != 0 ? std::strerror(device.Error())
                                     : "the PDF writer did not start");
        }
        painter.setRenderHint(QPainter::Antialiasing, true);
        painter.setRenderHint(QPainter::TextAntialiasing, true);
        for (size_t k = 0; k < pages.size(); ++k) {
            if (k > 0) {
                writer.newPage();
            }
            DrawFrame(painter, state, k + 1, pages.size());
            for (const PagePart &part : pages[k]) {
                painter.save();
                part.draw(painter, part.box);
                painter.restore();
            }
            if (device.Error() != 0) {
                break;
            }
        }
        painter.end();
    }
    if (device.Error() == 0) {
        AppendAuthor(device, title,
                     QString("%1 %2").arg(author_name, Text(content.version)),
                     creator, content.written);
    }
    if (device.Error() != 0) {
        fail(std::strerror(device.Error()));
    }
}

} // namespace

std::optional<ReportPaper> ParseReportPaper(const std::string &text) {
    std::string lower = text;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return std::tolower(c); });
    if (lower == "a4") {
        return ReportPaper::A4;
    }
    if (lower == "letter") {
        return ReportPaper::Letter;
    }
    return std::nullopt;
}

std::string ReportPaperNames() { return "a4 or letter"; }

bool IsReportPath(const std::string &path) {
    constexpr std::string_view extension = ".pdf";
    if (path.size() <= extension.size() ||
        path[path.size() - extension.size() - 1] == '/') {
        return false;
    }
    for (size_t k = 0; k < extension.size(); ++k) {
        if (std::tolower(static_cast<unsigned char>(
                path[path.size() - extension.size() + k])) != extension[k]) {
            return false;
        }
    }
    return true;
}

ReportSource DescribeSurveyFile(const std::string &path) {
    ReportSource source;
    source.path = path;
    const QFileInfo info(Text(path));
    source.name =
        path == "-" ? "standard input" : info.fileName().toStdString();
    if (path == "-" || !info.isFile()) {
        return source;
    }
    QFile file(info.filePath());
    if (!file.open(QIODevice::ReadOnly)) {
        return source;
    }
    QCryptographicHash hash(QCryptographicHash::Sha256);
    qint64 size = 0;
    while (!file.atEnd()) {
        const QByteArray piece = file.read(hash_piece);
        if (piece.isEmpty()) {
            return source; // a read error: neither size nor checksum
        }
        hash.addData(piece);
        size += piece.size();
    }
    source.size = size;
    source.sha256 = hash.result().toHex().toStdString();
    return source;
}

size_t SuspectRowsPerPage(ReportPaper paper) {
    return RowsThatFit(BodyOf(paper).height(), true);
}

void WriteReport(TFileReplacement &file, const std::string &path,
                 const ReportContent &content) {
    try {
        PaintReport(file.File(), path, content);
    } catch (const FileError &) {
        file.Abandon();
        throw;
    }
    const int error = file.Finish();
    if (error != 0) {
        throw FileError("Cannot write the report " + path + ": " +
                        std::strerror(error));
    }
}

void WriteReport(const std::string &path, const ReportContent &content) {
    TFileReplacement file;
    int error = 0;
    if (!file.Begin(path, error)) {
        throw FileError("Cannot write the report " + path + ": " +
                        std::strerror(error));
    }
    WriteReport(file, path, content);
    error = file.Publish();
    if (error != 0) {
        throw FileError("Cannot write the report " + path + ": " +
                        std::strerror(error));
    }
}
