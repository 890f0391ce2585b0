// The parts a figure is made of: the colour scale, the equal-scale view and
// its zoom, the figures and histogram of a model, the labels kept apart, and
// the picture formats and sizes the batch tool accepts.
#include <cmath>
#include <limits>
#include <set>

#include <QDir>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "PlotFixture.h"
#include "platform/FileError.h"
#include "plot/ColourScale.h"
#include "plot/FigureFile.h"
#include "plot/LabelPlacement.h"
#include "plot/MapView.h"

namespace {
constexpr double no_r2 = std::numeric_limits<double>::quiet_NaN();
}

TEST(ColourScale, CentredOnZeroAndClippedAtTheBound) {
    const TColourScale scale(0.5);
    const int top = TColourScale::steps - 1;
    struct Case {
        const char *name;
        double value;
        int index;
    };
    const Case cases[] = {{"zero", 0.0, top / 2},
                          {"+bound", 0.5, top},
                          {"beyond +bound", 50.0, top},
                          {"-bound", -0.5, 0},
                          {"beyond -bound", -7.0, 0},
                          {"half way up", 0.25, 191}, // 190.5 rounded
                          {"not a number", no_r2, top / 2}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(scale.Index(c.value), c.index);
    }
    // A bound that is no bound falls back to 1 mGal.
    EXPECT_EQ(TColourScale(0.0).Bound(), 1.0);
    EXPECT_EQ(TColourScale(no_r2).Bound(), 1.0);
}

TEST(MapView, FitsAtOneScaleAndZoomsAroundThePointer) {
    TMapView view;
    // 10 km x 1 km into 1000 x 1000 pixels, 10 pixels margin: 0.098 px/m.
    view.Fit(WorldBox{0.0, 0.0, 10000.0, 1000.0}, QRectF(0, 0, 1000, 1000),
             10.0);
    EXPECT_DOUBLE_EQ(view.PixelsPerMetre(), 980.0 / 10000.0);
    const QPointF centre = view.ToPixel(5000.0, 500.0);
    EXPECT_DOUBLE_EQ(centre.x(), 500.0);
    EXPECT_DOUBLE_EQ(centre.y(), 500.0);
    // North up: a larger y is higher on the screen.
    EXPECT_LT(view.ToPixel(5000.0, 1000.0).y(), centre.y());

    const QPointF pointer(800.0, 300.0);
    double x0 = 0.0, y0 = 0.0;
    view.ToWorld(pointer, x0, y0);
    view.ZoomAt(pointer, 3.0);
    double x1 = 0.0, y1 = 0.0;
    view.ToWorld(pointer, x1, y1);
    EXPECT_NEAR(x1, x0, 1e-9);
    EXPECT_NEAR(y1, y0, 1e-9);
    EXPECT_NEAR(view.PixelsPerMetre(), 3.0 * 0.098, 1e-12);
    view.PanBy(QPointF(50.0, -20.0));
    const QPointF moved = view.ToPixel(x0, y0);
    EXPECT_NEAR(moved.x(), pointer.x() + 50.0, 1e-9);
    EXPECT_NEAR(moved.y(), pointer.y() - 20.0, 1e-9);
}

TEST(FigureModel, FiguresHistogramAndDrawingOrder) {
    // Five stations with r2 and two without; scale 0.1, threshold 4: the
    // bars are at -0.4 and +0.4.
    const FixtureRun run({{0, 0, 0.1},
                          {100, 0, -0.2},
                          {200, 0, 0.5, QcStatus::Ok, true},
                          {300, 0, -0.45},
                          {400, 0, 0.0},
                          {0, 100, no_r2, QcStatus::Blank},
                          {100, 100, no_r2, QcStatus::Skipped}});
    const TFigureModel model = run.Model();
    const RunFigures &c = model.Counts();
    EXPECT_EQ(c.Stations(), 7);
    EXPECT_EQ(c.estimated, 5);
    EXPECT_EQ(c.blank, 1);
    EXPECT_EQ(c.skipped, 1);
    EXPECT_EQ(c.with_r2, 5);
    EXPECT_EQ(c.suspects, 1);
    EXPECT_NEAR(c.RmsR2(), std::sqrt((0.01 + 0.04 + 0.25 + 0.2025) / 5.0),
                1e-12);

    const R2Histogram &h = model.Histogram();
    EXPECT_NEAR(h.lower_threshold, -0.4, 1e-12);
    EXPECT_NEAR(h.upper_threshold, 0.4, 1e-12);
    EXPECT_EQ(h.beyond_lower, 1);
    EXPECT_EQ(h.beyond_upper, 1);
    int64_t binned = h.below + h.above;
    for (const int64_t n : h.counts) {
        binned += n;
    }
    EXPECT_EQ(binned, 5);

    // Rings first, then by |r2| growing: the suspect's 0.5 lies on top.
    const std::vector<uint32_t> &order = model.DrawOrder();
    ASSERT_EQ(order.size(), 7u);
    EXPECT_EQ(std::set<uint32_t>(order.begin(), order.begin() + 2),
              (std::set<uint32_t>{5, 6}));
    EXPECT_EQ(order.back(), 2u);
    EXPECT_EQ(model.Nearest(190.0, 5.0, 20.0), 2);
    EXPECT_EQ(model.Nearest(150.0, 50.0, 20.0), -1);
}

TEST(LabelPlacement, LabelsNeverOverlapAndStayInTheirRoom) {
    // Twelve stations: a crowd 6 pixels apart in a room with space for a few
    // labels only, and the same spread out where every label fits.
    struct Case {
        const char *name;
        double spacing;
        QRectF room;
        bool all_placed;
    };
    const Case cases[] = {{"crowded", 6.0, QRectF(0, 0, 160, 80), false},
                          {"roomy", 60.0, QRectF(-100, -100, 600, 400), true}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<LabelRequest> requests;
        for (int k = 0; k < 12; ++k) {
            requests.push_back(
                {QPointF(50 + c.spacing * (k % 4), 40 + c.spacing * (k / 4)),
                 QSizeF(40, 14)});
        }
        const auto placed = PlaceLabels(requests, c.room, 5.0);
        ASSERT_EQ(placed.size(), requests.size());
        size_t count = 0;
        for (size_t a = 0; a < placed.size(); ++a) {
            if (!placed[a]) {
                continue;
            }
            ++count;
            EXPECT_TRUE(c.room.contains(placed[a]->box));
            for (size_t b = a + 1; b < placed.size(); ++b) {
                if (placed[b]) {
                    EXPECT_FALSE(placed[a]->box.intersects(placed[b]->box))
                        << a << " and " << b;
                }
            }
        }
        EXPECT_GE(count, 2u); // the most important ones get their names
        EXPECT_EQ(count == placed.size(), c.all_placed);
    }
}

TEST(FigureFile, FormatComesFromTheExtension) {
    struct Case {
        const char *path;
        const char *extension; // null: no format
    };
    const Case cases[] = {
        {"survey.png", "png"},      {"OUT/Survey.PNG", "png"},
        {"figure.svg", "svg"},      {"figure.jpg", nullptr},
        {"figure", nullptr},        {"dir.png/figure", nullptr},
        {"figure.png.txt", nullptr}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.path);
        const FigureFormat *format = FigureFormatOf(c.path);
        if (c.extension == nullptr) {
            EXPECT_EQ(format, nullptr);
        } else {
            ASSERT_NE(format, nullptr);
            EXPECT_STREQ(format->extension, c.extension);
        }
    }
    EXPECT_EQ(FigureExtensionsText(), ".png or .svg");
}

TEST(FigureFile, SizeIsWidthByHeightWithinLimits) {
    struct Case {
        const char *text;
        bool ok;
        int width, height;
    };
    const Case cases[] = {
        {"1600x1000", true, 1600, 1000}, {"800X600", true, 800, 600},
        {"320x8000", true, 320, 8000},   {"319x600", false, 0, 0},
        {"800x8001", false, 0, 0},       {"x600", false, 0, 0},
        {"800x", false, 0, 0},           {"800", false, 0, 0},
        {"8a0x600", false, 0, 0},        {"800x600x2", false, 0, 0},
        {"-800x600", false, 0, 0}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text);
        QSize size;
        std::string why;
        EXPECT_EQ(ParseFigureSize(c.text, size, why), c.ok);
        if (c.ok) {
            EXPECT_EQ(size, QSize(c.width, c.height));
        } else {
            EXPECT_NE(why.find(c.text), std::string::npos) << why;
        }
    }
}

TEST(FigureFile, WritesAWholePictureOrLeavesTheEarlierFile) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const FixtureRun run(Lattice(5, 5, 200.0));
    const TFigureModel model = run.Model();
    const std::string path = dir.filePath("figure.png").toStdString();
    {
        QFile earlier(QString::fromStdString(path));
        ASSERT_TRUE(earlier.open(QIODevice::WriteOnly));
        earlier.write("an earlier picture");
    }
    WriteFigure(path, *FigureFormatOf(path), model, QSize(800, 500));
    const QImage written(QString::fromStdString(path));
    EXPECT_EQ(written.size(), QSize(800, 500));
    // No temporary file is left beside it.
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files),
              QStringList{"figure.png"});

    const std::string missing =
        dir.filePath("no/such/folder/figure.svg").toStdString();
    try {
        WriteFigure(missing, *FigureFormatOf(missing), model, QSize(800, 500));
        FAIL() << "a picture in a missing folder was written";
    } catch (const FileError &error) {
        EXPECT_NE(std::string(error.what()).find(missing), std::string::npos);
        EXPECT_NE(std::string(error.what()).find("No such file or directory"),
                  std::string::npos);
    }
}
