// The figure's formats: PNG through QImage, SVG through QSvgGenerator (the
// dots as one embedded image, everything else, names included, as vectors
// and text).
#include "plot/FigureFile.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstring>

#include <QBuffer>
#include <QImage>
#include <QPainter>
#include <QSvgGenerator>

#include "platform/FileError.h"
#include "platform/FileReplacement.h"
#include "plot/Figure.h"
#include "plot/FigureModel.h"

namespace {

// The dots of an SVG at this many times its pixels, so that they stay sharp
// when it is enlarged.
constexpr double svg_dot_sharpness = 2.0;

std::string Bytes(const QByteArray &bytes) {
    return std::string(bytes.constData(), static_cast<size_t>(bytes.size()));
}

std::string EncodePng(const TFigureModel &model, const QSize &size) {
    QImage image(size, QImage::Format_RGB32);
    {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::TextAntialiasing, true);
        DrawFigure(painter, QSizeF(size), model);
    }
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    return image.save(&buffer, "PNG") ? Bytes(bytes) : std::string();
}

std::string EncodeSvg(const TFigureModel &model, const QSize &size) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QSvgGenerator generator;
    generator.setOutputDevice(&buffer);
    generator.setSize(size);
    generator.setViewBox(QRect(QPoint(0, 0), size));
    generator.setTitle(
        QString::fromStdString("Korvanel: " + model.Header().station_file));
    generator.setDescription("Leave-one-out residuals r2 of a gravity survey");
    {
        QPainter painter;
        if (!painter.begin(&generator)) {
            return {};
        }
        DrawFigure(painter, QSizeF(size), model, svg_dot_sharpness);
    }
    return Bytes(bytes);
}

const std::vector<FigureFormat> formats = {
    {"png", "PNG picture", EncodePng},
    {"svg", "SVG drawing", EncodeSvg},
};

} // namespace

const std::vector<FigureFormat> &FigureFormats() { return formats; }

const FigureFormat *FigureFormatOf(const std::string &path) {
    const size_t dot = path.find_last_of("./");
    if (dot == std::string::npos || path[dot] != '.') {
        return nullptr;
    }
    std::string extension = path.substr(dot + 1);
    std::transform(
        extension.begin(), extension.end(), extension.begin(),
        [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    for (const FigureFormat &format : formats) {
        if (extension == format.extension) {
            return &format;
        }
    }
    return nullptr;
}

std::string FigureExtensionsText() {
    std::string text;
    for (size_t k = 0; k < formats.size(); ++k) {
        text += (k == 0 ? "." : k + 1 == formats.size() ? " or ." : ", .");
        text += formats[k].extension;
    }
    return text;
}

bool ParseFigureSize(const std::string &text, QSize &size, std::string &why) {
    const size_t x = text.find_first_of("xX");
    int values[2] = {0, 0};
    const std::string parts[2] = {
        x == std::string::npos ? text : text.substr(0, x),
        x == std::string::npos ? "" : text.substr(x + 1)};
    for (int k = 0; k < 2; ++k) {
        const std::string &part = parts[k];
        const auto [end, error] =
            std::from_chars(part.data(), part.data() + part.size(), values[k]);
        if (x == std::string::npos || part.empty() || error != std::errc() ||
            end != part.data() + part.size()) {
            why = "'" + text +
                  "' is not a size in pixels written WIDTHxHEIGHT, "
                  "such as 1600x1000";
            return false;
        }
    }
    for (const int value : values) {
        if (value < min_figure_side || value > max_figure_side) {
            why = "'" + text + "': each side must be " +
                  std::to_string(min_figure_side) + " to " +
                  std::to_string(max_figure_side) + " pixels";
            return false;
        }
    }
    size = QSize(values[0], values[1]);
    return true;
}

namespace {

// Writes `bytes` into the begun `file` and finishes it; throws FileError
// naming `path` (the temporary file is then gone).
void WriteFigureBytes(TFileReplacement &file, const std::string &path,
                      const std::string &bytes) {
    int error = 0;
    if (std::fwrite(bytes.data(), 1, bytes.size(), file.File()) !=
        bytes.size()) {
        error = errno;
        file.Abandon();
        throw FileError("Cannot write the picture " + path + ": " +
                        std::strerror(error != 0 ? error : EIO));
    }
    error = file.Finish();
    if (error != 0) {
        throw FileError("Cannot write the picture " + path + ": " +
                        std::strerror(error));
    }
}

} // namespace

void WriteFigure(const std::string &path, const FigureFormat &format,
                 const TFigureModel &model, const QSize &size) {
    const std::string bytes = format.encode(model, size);
    if (bytes.empty()) {
        throw FileError("Cannot write the picture " + path + ": the " +
                        format.description + " could not be made");
    }
    TFileReplacement file;
    int error = 0;
    if (!file.Begin(path, error)) {
        throw FileError("Cannot write the picture " + path + ": " +
                        std::strerror(error));
    }
    WriteFigureBytes(file, path, bytes);
    error = file.Publish();
    if (error != 0) {
        throw FileError("Cannot write the picture " + path + ": " +
                        std::strerror(error));
    }
}

void WriteFigure(TFileReplacement &file, const std::string &path,
                 const FigureFormat &format, const TFigureModel &model,
                 const QSize &size) {
    const std::string bytes = format.encode(model, size);
    if (bytes.empty()) {
        file.Abandon();
        throw FileError("Cannot write the picture " + path + ": the " +
                        format.description + " could not be made");
    }
    WriteFigureBytes(file, path, bytes);
}
