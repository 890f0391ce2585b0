// The cleaned survey of a shown run: its input read once more, through the
// review's decisions, into the writer of the form the path asks for.
#include "gui/ReviewRun.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "app/CalcRun.h"
#include "platform/FileError.h"
#include "platform/OutputSet.h"
#include "platform/TextReader.h"
#include "review/CleanSurvey.h"
#include "review/ReviewedInput.h"

namespace {

constexpr const char *clean_option = "the cleaned survey";
constexpr const char *data_option = "the station file";

CleanSaveOutcome Refused(const std::string &text) {
    return {false, QString::fromStdString(text)};
}

} // namespace

CleanSaveOutcome SaveCleanedSurvey(const std::string &path, ShownRun &run,
                                   const std::vector<std::string> &apart,
                                   const std::vector<ReviewRow> &rows) {
    CleanForm form = CleanForm::StationText;
    if (!CleanFormOf(path, form)) {
        return Refused("A cleaned survey is saved as .dat, .txt, .csv or "
                       ".gpkg, not as " +
                       path + ".");
    }
    for (const std::string &other : apart) {
        if (!other.empty() && SameOutputFile(path, other)) {
            return Refused("The cleaned survey cannot take the place of " +
                           other +
                           ", an output of this run: choose another "
                           "name.");
        }
    }
    TOutputSet outputs;
    outputs.SetInput(data_option, run.data);
    const size_t cleaned =
        outputs.Add(clean_option, path,
                    form == CleanForm::GeoPackage ? OutputForm::Database
                                                  : OutputForm::Text);
    OutputProblem problem = outputs.CheckPaths();
    if (problem.ok()) {
        problem = outputs.BeginAll();
    }
    if (!problem.ok()) {
        return Refused(OutputMessage(problem));
    }

    // The input read once more, as a run's first pass reads it, the
    // decisions applied on the way into the writer.
    auto decisions = std::make_shared<TReviewDecisions>(rows);
    TCleanSurveyWriter writer(form, !run.survey.listed,
                              run.settings.decimal_separator);
    RunInput input;
    input.path = run.data;
    FeedRun(input, run.survey, run.settings, true);
    ApplyReview(
        input, run.settings, decisions, {},
        [&writer](const InputRecord &record, bool rejected, bool changed) {
            writer.Take(record, rejected, changed);
        });
    try {
        std::unique_ptr<TStationInput> source = input.open();
        source->Rewind();
        InputRecord record;
        while (source->Next(record)) {
        }
    } catch (const FileError &error) {
        outputs.Abandon();
        return Refused(error.what());
    } catch (const EncodingError &error) {
        outputs.Abandon();
        return Refused(error.what());
    }

    if (form == CleanForm::GeoPackage) {
        std::vector<SurveyPoint> points;
        points.reserve(writer.Stations().size());
        for (const CleanStation &s : writer.Stations()) {
            points.push_back({s.x, s.y, s.h, s.value, s.name, s.survey});
        }
        const GeoPackageWritten written =
            WriteSurveyGeoPackage(path, outputs.DatabaseTemporary(cleaned),
                                  points, run.survey.crs.wkt);
        if (!written.error.empty()) {
            outputs.Abandon();
            return Refused(written.error);
        }
        outputs.MarkFinished(cleaned);
    } else {
        TFileReplacement &file = outputs.Stream(cleaned);
        const std::string &text = writer.Text();
        int error = 0;
        if (file.File() == nullptr || std::fwrite(text.data(), 1, text.size(),
                                                  file.File()) != text.size()) {
            error = errno != 0 ? errno : EIO;
        } else {
            error = file.Finish();
        }
        if (error != 0) {
            outputs.Abandon();
            return Refused("The cleaned survey " + path +
                           " could not be written: " + std::strerror(error));
        }
    }
    problem = outputs.Publish();
    if (!problem.ok()) {
        return Refused(OutputMessage(problem));
    }
    const ReviewTally &tally = decisions->Tally();
    QString message =
        QString("Cleaned survey written to %1: %2 stations rejected, %3 "
                "fixed.")
            .arg(QString::fromStdString(path))
            .arg(tally.rejected)
            .arg(tally.fixed);
    const size_t stale = decisions->Stale().size();
    if (stale > 0) {
        message += QString(" %1 decisions matched no station.").arg(stale);
    }
    return {true, message};
}
