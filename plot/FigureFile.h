// A run's figure as a file: the formats a picture can be written in, chosen
// by the path's extension, and the writing, through a temporary file that
// replaces an earlier picture only once complete.
#pragma once

#include <string>
#include <vector>

#include <QSize>

class TFigureModel;
class TFileReplacement;

// One format: its extension (lower case, without the dot), what the user
// reads of it, and how the figure is encoded in it.
struct FigureFormat {
    const char *extension;
    const char *description;
    // The figure's bytes at `size` pixels; an empty array when the encoder
    // failed.
    std::string (*encode)(const TFigureModel &model, const QSize &size);
};

// Every format, in the order a chooser lists them (PNG, then SVG).
const std::vector<FigureFormat> &FigureFormats();

// The format of `path` by its extension, in any case; null for another one.
const FigureFormat *FigureFormatOf(const std::string &path);

// The extensions as a user reads them: ".png or .svg".
std::string FigureExtensionsText();

// The default size of a picture, pixels, and the sizes accepted.
inline constexpr int default_figure_width = 1600;
inline constexpr int default_figure_height = 1000;
inline constexpr int min_figure_side = 320;
inline constexpr int max_figure_side = 8000;

// Reads "WxH" (whole pixels, each within the limits). False, with the reason
// in `why`, for anything else.
bool ParseFigureSize(const std::string &text, QSize &size, std::string &why);

// Writes the figure to `path` in `format`. Throws FileError naming the path
// and the reason when it cannot be encoded or written; an earlier file at
// `path` is then left as it was. Needs a QGuiApplication (for the fonts).
void WriteFigure(const std::string &path, const FigureFormat &format,
                 const TFigureModel &model, const QSize &size);
// The same into `file`, begun for `path` with a run's other outputs, and
// finished (platform/OutputSet.h puts it in place).
void WriteFigure(TFileReplacement &file, const std::string &path,
                 const FigureFormat &format, const TFigureModel &model,
                 const QSize &size);
