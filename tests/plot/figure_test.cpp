// The figure as a person sees it: each station at the pixel its coordinates
// give, coloured by r2, suspects ringed, blank stations grey, one scale for
// x and y, and an SVG that names every suspect as text.
#include <cmath>
#include <limits>
#include <set>

#include <QImage>
#include <QPainter>
#include <QXmlStreamReader>

#include <gtest/gtest.h>

#include "PlotFixture.h"
#include "plot/DotLayer.h"
#include "plot/Figure.h"
#include "plot/FigureFile.h"

namespace {

constexpr double no_r2 = std::numeric_limits<double>::quiet_NaN();
const QSize figure_size(1600, 1000);

// The figure of `model` in an image; `view` is where its map fell.
QImage Render(const TFigureModel &model, TMapView &view) {
    QImage image(figure_size, QImage::Format_RGB32);
    QPainter painter(&image);
    view = DrawFigure(painter, QSizeF(figure_size), model);
    return image;
}

// Largest difference of the three channels.
int Distance(QRgb a, QRgb b) {
    return std::max({std::abs(qRed(a) - qRed(b)),
                     std::abs(qGreen(a) - qGreen(b)),
                     std::abs(qBlue(a) - qBlue(b))});
}

QRgb PixelAt(const QImage &image, const QPointF &at) {
    return image.pixel(static_cast<int>(std::floor(at.x())),
                       static_cast<int>(std::floor(at.y())));
}

// Centre of the pixels within `tolerance` of `colour`; false for none.
bool Centroid(const QImage &image, QRgb colour, int tolerance,
              QPointF &centre) {
    double sx = 0.0, sy = 0.0;
    int count = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (Distance(image.pixel(x, y), colour) <= tolerance) {
                sx += x + 0.5;
                sy += y + 0.5;
                ++count;
            }
        }
    }
    if (count == 0) {
        return false;
    }
    centre = QPointF(sx / count, sy / count);
    return true;
}

} // namespace

TEST(FigureMap, StationIsDrawnAtItsPixelInTheColourOfItsR2) {
    // A 9 x 9 lattice; three stations stand out. Expected colours: the ends
    // and the middle of the scale (bound 3 x 0.1 mGal).
    std::vector<FixtureStation> list = Lattice(9, 9, 300.0);
    list[10].r2 = 5.0;  // far beyond +bound
    list[40].r2 = -2.0; // far beyond -bound
    list[70].r2 = 0.0;
    const FixtureRun run(list);
    const TFigureModel model = run.Model();
    const TColourScale &scale = model.Scale();
    struct Case {
        const char *name;
        size_t station;
        QRgb colour;
    };
    const Case cases[] = {
        {"large positive r2: the positive end", 10,
         scale.Colour(TColourScale::steps - 1)},
        {"large negative r2: the negative end", 40, scale.Colour(0)},
        {"r2 of 0: the middle", 70, scale.Colour(TColourScale::steps / 2)},
    };
    TMapView view;
    const QImage image = Render(model, view);
    // The positive end is a dark red, the negative a dark blue.
    EXPECT_GT(qRed(cases[0].colour), 2 * qBlue(cases[0].colour));
    EXPECT_GT(qBlue(cases[1].colour), 2 * qRed(cases[1].colour));
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const QcStation &s = run.stations[c.station];
        const QPointF at = view.ToPixel(s.x, s.y);
        ASSERT_TRUE(LayoutFigure(QSizeF(figure_size)).map.contains(at));
        // Dots are drawn whole at their centre pixel; 2 levels of rounding.
        EXPECT_LE(Distance(PixelAt(image, at), c.colour), 2);
    }
    // The view puts the lattice's corners where its axes say: west left of
    // east, north above south.
    const QPointF south_west = view.ToPixel(500000.0, 5500000.0);
    const QPointF north_east = view.ToPixel(502400.0, 5502400.0);
    EXPECT_LT(south_west.x(), north_east.x());
    EXPECT_GT(south_west.y(), north_east.y());
}

TEST(FigureMap, MarksDependOnWhatQualityControlFound) {
    // Each station is probed on its dot's rim plus the ring's gap: a suspect
    // has a black ring there, other stations do not; a blank or skipped
    // station is a grey ring with a white middle.
    std::vector<FixtureStation> list = Lattice(7, 7, 500.0);
    list[8].suspect = true;
    list[8].r2 = 3.0;
    list[16].status = QcStatus::Blank;
    list[16].r2 = no_r2;
    list[30].status = QcStatus::Skipped;
    list[30].r2 = no_r2;
    const FixtureRun run(list);
    const TFigureModel model = run.Model();
    TMapView view;
    const QImage image = Render(model, view);
    const double radius = DotRadius(model, view);
    ASSERT_GE(radius, 3.0); // room to probe inside a dot
    const QRgb grey = qRgb(0x8c, 0x8c, 0x8c);
    struct Case {
        const char *name;
        size_t station;
        bool ringed, grey;
    };
    const Case cases[] = {{"suspect", 8, true, false},
                          {"plain station", 24, false, false},
                          {"blank station", 16, false, true},
                          {"skipped station", 30, false, true}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const QPointF at =
            view.ToPixel(run.stations[c.station].x, run.stations[c.station].y);
        // The suspect's ring: 3.5 pixels beyond the dot, 2.2 wide.
        int dark = 0;
        for (const QPointF d :
             {QPointF(1, 0), QPointF(-1, 0), QPointF(0, 1), QPointF(0, -1)}) {
            const QRgb p = PixelAt(image, at + d * (radius + 3.5));
            dark += qGray(p) < 60 ? 1 : 0;
        }
        EXPECT_EQ(dark, c.ringed ? 4 : 0);
        const QRgb middle = PixelAt(image, at);
        const QRgb rim = PixelAt(image, at + QPointF(radius - 0.5, 0.5));
        if (c.grey) {
            EXPECT_LE(Distance(middle, qRgb(255, 255, 255)), 2);
            EXPECT_LE(Distance(rim, grey), 40); // the ring, antialiased
        } else {
            EXPECT_GT(Distance(middle, qRgb(255, 255, 255)), 2);
        }
    }
}

TEST(FigureMap, OneScaleForXAndYWhateverTheSurveysShape) {
    // Two rows (or columns) of stations; the south-west corner at the
    // positive end of the scale, the north-east at the negative one. The
    // pixels between their dots keep the ratio of the metres.
    struct Case {
        const char *name;
        double width, height; // metres
    };
    const Case cases[] = {{"much wider than high", 20000.0, 2000.0},
                          {"much higher than wide", 2000.0, 20000.0}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<FixtureStation> list;
        const bool wide = c.width > c.height;
        for (int k = 0; k <= 20; ++k) {
            for (int side = 0; side < 2; ++side) {
                const double along = k * 1000.0;
                const double across = side * 2000.0;
                list.push_back(
                    {wide ? along : across, wide ? across : along, 0.0});
            }
        }
        list.front().r2 = 9.0; // (0, 0)
        list.back().r2 = -9.0; // (width, height)
        const FixtureRun run(list);
        const TFigureModel model = run.Model();
        TMapView view;
        const QImage image = Render(model, view);
        QPointF south_west, north_east;
        // The dots' fill only: the colour bar lies outside the map.
        QImage map = image.copy(LayoutFigure(QSizeF(figure_size)).map.toRect());
        ASSERT_TRUE(Centroid(map, model.Scale().Colour(TColourScale::steps - 1),
                             3, south_west));
        ASSERT_TRUE(Centroid(map, model.Scale().Colour(0), 3, north_east));
        const double dx = north_east.x() - south_west.x();
        const double dy = south_west.y() - north_east.y();
        ASSERT_GT(dx, 0.0);
        ASSERT_GT(dy, 0.0);
        // Centroids of dots a few pixels wide: within half a pixel each.
        const double expected = c.width / c.height;
        EXPECT_NEAR(dx / dy, expected,
                    expected * 1.0 / std::min(dx, dy) + 0.02);
        // The long side fills most of its room.
        EXPECT_GT(std::max(dx, dy), 0.5 * (wide ? map.width() : map.height()));
    }
}

TEST(FigureMap, SurveysWithoutExtentStillDrawEachStation) {
    // No width, no height, or nothing at all: the view falls back to a
    // kilometre across, and every station still shows where it is.
    struct Case {
        const char *name;
        std::vector<FixtureStation> list;
    };
    const Case cases[] = {
        {"no station", {}},
        {"one station", {{500000.0, 5500000.0, 1.0}}},
        {"one east-west line",
         {{0.0, 0.0, 1.0}, {1000.0, 0.0, 0.0}, {2000.0, 0.0, -1.0}}},
        {"one north-south line",
         {{0.0, 0.0, 1.0}, {0.0, 1000.0, 0.0}, {0.0, 2000.0, -1.0}}},
        {"all at one position",
         {{7.0, 7.0, 1.0}, {7.0, 7.0, 0.5}, {7.0, 7.0, -0.5}}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const FixtureRun run(c.list);
        const TFigureModel model = run.Model();
        TMapView view;
        const QImage image = Render(model, view);
        const QRectF map = LayoutFigure(QSizeF(figure_size)).map;
        for (size_t k = 0; k < run.stations.Size(); ++k) {
            const QPointF at =
                view.ToPixel(run.stations[k].x, run.stations[k].y);
            ASSERT_TRUE(map.contains(at));
            EXPECT_GT(Distance(PixelAt(image, at), qRgb(255, 255, 255)), 2);
        }
    }
}

TEST(FigureSvg, ParsesAsXmlAndNamesEverySuspect) {
    std::vector<FixtureStation> list = Lattice(8, 8, 400.0);
    // Names that XML must escape, and one beyond ASCII.
    const std::vector<std::pair<size_t, std::string>> suspects = {
        {9, "P&7"}, {27, "<edge>"}, {45, "Žilina 3"}, {54, "B\"2\""}};
    for (const auto &[k, name] : suspects) {
        list[k].suspect = true;
        list[k].r2 = 2.0;
        list[k].name = name;
    }
    const FixtureRun run(list);
    const TFigureModel model = run.Model();
    const FigureFormat *svg = FigureFormatOf("figure.svg");
    ASSERT_NE(svg, nullptr);
    const std::string bytes = svg->encode(model, figure_size);
    ASSERT_FALSE(bytes.empty());

    QXmlStreamReader xml(QByteArray::fromStdString(bytes));
    std::set<std::string> texts;
    bool svg_root = false;
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isStartElement() && xml.name() == QStringLiteral("svg")) {
            svg_root = true;
        }
        if (xml.isStartElement() && xml.name() == QStringLiteral("text")) {
            texts.insert(
                xml.readElementText(QXmlStreamReader::IncludeChildElements)
                    .trimmed()
                    .toStdString());
        }
    }
    ASSERT_FALSE(xml.hasError()) << xml.errorString().toStdString();
    EXPECT_TRUE(svg_root);
    for (const auto &[k, name] : suspects) {
        SCOPED_TRACE(name);
        EXPECT_EQ(texts.count(name), 1u);
    }
    EXPECT_EQ(texts.count("fixture.dat"), 1u); // the title
}
