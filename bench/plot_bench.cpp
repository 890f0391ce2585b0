// How fast a run's figure draws a million stations: the figure's records
// prepared from quality control's, the dots stamped into an image, the whole
// figure (dots, rings, names, axes, histogram) and its PNG, against a
// baseline of one QPainter ellipse per station, measured in the same run.
// Records from SyntheticRecords.h, a blunder every 997th station.
// Usage: plot_bench [STATIONS [PNG]]   (default 1,000,000; PNG: where to
// leave the figure, to look at)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <random>
#include <vector>

#include <QBuffer>
#include <QImage>
#include <QPainter>

#include "SyntheticRecords.h"
#include "plot/DotLayer.h"
#include "plot/Figure.h"
#include "plot/FigureModel.h"
#include "plot/OffscreenGui.h"

namespace {

constexpr int32_t default_stations = 1000000;
constexpr int repeats = 3; // median of this many runs of each step
constexpr int blunder_every = 997;
const QSize figure_size(1600, 1000);

using Clock = std::chrono::steady_clock;

void Print(const char *what, const Timing &t) {
    std::printf("  %-50s %8.3f s wall %8.3f s CPU\n", what, t.wall, t.cpu);
}

} // namespace

int main(int argc, char **argv) {
    const int32_t count = argc > 1 ? std::atoi(argv[1]) : default_stations;
    if (count <= 0) {
        std::fprintf(stderr, "usage: plot_bench [STATIONS]\n");
        return 2;
    }
    const TOffscreenGui gui;

    // Records as quality control would leave them.
    TQcStations stations;
    SuspectFindings suspects;
    MakeSyntheticRecords(count, blunder_every, stations, suspects);
    const DuplicateFindings duplicates;
    FigureHeader header{"synthetic.dat", RunParameters{}, 4.0};

    std::unique_ptr<TFigureModel> model;
    const Timing prepare = Median(repeats, [&] {
        model = std::make_unique<TFigureModel>(header,
                                               FiguresOf(stations, suspects),
                                               stations, suspects, duplicates);
    });
    const TFigureModel &m = *model;
    const FigureLayout layout = LayoutFigure(QSizeF(figure_size));
    TMapView view;
    FitMap(view, m.Extent(), layout.map, layout.text);
    const double radius = DotRadius(m, view);

    const Timing dots =
        Median(repeats, [&] { (void)RenderDots(m, view, radius); });
    QImage image(figure_size, QImage::Format_RGB32);
    const Timing figure = Median(repeats, [&] {
        QPainter painter(&image);
        DrawFigure(painter, QSizeF(figure_size), m);
    });
    const Timing png = Median(repeats, [&] {
        QByteArray bytes;
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        image.save(&buffer, "PNG");
    });
    // The window's map after a zoom: the dots of a view four times closer.
    TMapView zoomed = view;
    zoomed.ZoomAt(zoomed.Frame().center(), 4.0);
    const Timing zoom = Median(
        repeats, [&] { (void)RenderDots(m, zoomed, DotRadius(m, zoomed)); });

    // Baseline: the same dots as one antialiased QPainter ellipse each, in
    // the same drawing order.
    QImage baseline_image(view.Frame().size().toSize(),
                          QImage::Format_ARGB32_Premultiplied);
    const auto baseline_start = Clock::now();
    const double baseline_cpu_start = CpuSeconds();
    {
        baseline_image.fill(Qt::transparent);
        QPainter painter(&baseline_image);
        painter.setRenderHint(QPainter::Antialiasing, true);
        painter.translate(-view.Frame().topLeft());
        painter.setPen(QPen(QColor(0x38, 0x38, 0x38), 0.8));
        for (const uint32_t k : m.DrawOrder()) {
            painter.setBrush(
                QColor::fromRgb(m.Scale().Colour(m.ColourIndex()[k])));
            painter.drawEllipse(view.ToPixel(stations[k].x, stations[k].y),
                                radius, radius);
        }
    }
    const Timing baseline{
        std::chrono::duration<double>(Clock::now() - baseline_start).count(),
        CpuSeconds() - baseline_cpu_start};

    std::printf("plot_bench: %d stations (%zu suspects), figure %dx%d, map "
                "%.0fx%.0f px, "
                "dot radius %.2f px\n",
                count, suspects.suspects.size(), figure_size.width(),
                figure_size.height(), view.Frame().width(),
                view.Frame().height(), radius);
    Print("records prepared (flat arrays, order, histogram)", prepare);
    Print("dots stamped into the map's image", dots);
    Print("whole figure drawn (dots, rings, names, axes)", figure);
    Print("prepared + whole figure",
          Timing{prepare.wall + figure.wall, prepare.cpu + figure.cpu});
    Print("PNG encoded", png);
    Print("dots of a view zoomed 4x (the window's redraw)", zoom);
    Print("baseline: one QPainter ellipse per station (1 run)", baseline);
    std::printf("  baseline / dots stamped, CPU: %.1fx\n",
                baseline.cpu / dots.cpu);
    if (argc > 2 && !image.save(argv[2], "PNG")) {
        std::fprintf(stderr, "cannot write %s\n", argv[2]);
        return 1;
    }
    return 0;
}
