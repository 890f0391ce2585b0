// The cleaned survey: the stations of a source with the review's decisions
// applied, as a station file (the source's own lines where nothing
// changed), a CSV table, or the rows of a GeoPackage layer.
#pragma once

#include <string>
#include <vector>

#include "app/StationInput.h"

enum class CleanForm { StationText, Csv, GeoPackage };

// The form a path asks for by its extension (.dat and .txt, .csv, .gpkg);
// false for another.
bool CleanFormOf(const std::string &path, CleanForm &form);

// One station of the cleaned survey.
struct CleanStation {
    double x, y, h, value;
    std::string name; // UTF-8
    std::string survey;
};

// Takes the lines of a source's first pass (a ReviewSink) and keeps the
// text of the text forms, or the stations of a GeoPackage, to be written
// once the run has ended.
class TCleanSurveyWriter {
  public:
    // `from_text`: the source is a station text file, whose lines are
    // copied where nothing changed; `separator`: its decimal separator.
    TCleanSurveyWriter(CleanForm form, bool from_text, char separator);
    void Take(const InputRecord &record, bool rejected, bool changed,
              const std::string &survey = {});
    // The stations kept for a GeoPackage.
    const std::vector<CleanStation> &Stations() const { return stations; }
    // The text of a station file or a CSV table.
    const std::string &Text() const { return text; }
    CleanForm Form() const { return form; }

  private:
    void Write(const std::string &more) { text += more; }

    CleanForm form;
    bool from_text;
    char separator;
    bool header_written = false;
    std::string text;
    std::vector<CleanStation> stations;
};

// A station line of a station text file with its height and value fields
// replaced by `h` and `value`, each written with as many decimals as the
// field it replaces; the rest of the line as it was. Empty when the line
// does not have five fields.
std::string ReplaceHeightAndValue(const std::string &line, double h,
                                  double value, char separator);
