// The texts of the surveys' figures and refusals.
#include "app/SurveyReport.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numeric>

namespace {

std::string Format(const char *format, auto... values) {
    char text[512];
    std::snprintf(text, sizeof text, format, values...);
    return text;
}

long long Count(int64_t n) { return static_cast<long long>(n); }

} // namespace

std::string SurveyUsageProblem(const QcFindings &findings,
                               const QcSettings &settings) {
    if (!findings.HasSurveys()) {
        return {};
    }
    if (settings.survey_namer && findings.grouping.NoneNamed()) {
        return "--survey-from-name: the pattern matches no station's name";
    }
    if (findings.offsets.refusal == SurveyRefusal::UnknownReference) {
        return "--reference-survey: no survey is named '" +
               settings.surveys.reference + "'";
    }
    return {};
}

std::vector<std::string> SurveyLines(const QcFindings &findings,
                                     const QcSettings &settings, bool all) {
    std::vector<std::string> lines;
    if (!findings.HasSurveys()) {
        return lines;
    }
    const SurveyGrouping &grouping = findings.grouping;
    const SurveyOffsets &offsets = findings.offsets;
    if (grouping.unnamed > 0 && !grouping.NoneNamed()) {
        lines.push_back(Format(
            "Surveys: %lld stations have no survey and form the survey %s "
            "(the first: station %s)",
            Count(grouping.unnamed), std::string(no_survey_name).c_str(),
            std::string(findings.stations.Name(
                            static_cast<size_t>(grouping.first_unnamed)))
                .c_str()));
    }
    switch (offsets.refusal) {
    case SurveyRefusal::None:
        break;
    case SurveyRefusal::OneSurvey:
        lines.push_back("Surveys: the stations form one survey; no offsets");
        return lines;
    case SurveyRefusal::GroupingLooksWrong:
        lines.push_back(Format(
            "Surveys: %zu surveys, most stations in surveys of fewer than %d: "
            "the grouping looks wrong, no offsets were estimated",
            grouping.Count(), settings.surveys.min_survey_stations));
        return lines;
    case SurveyRefusal::UnknownReference:
        return lines; // a usage problem, said once by the caller
    }
    int64_t shifted = 0;
    for (const SurveyOffset &s : offsets.surveys) {
        shifted += s.shifted ? 1 : 0;
    }
    lines.push_back(Format(
        "Surveys: %zu, shifted: %lld (offset beyond %.3g standard errors and "
        "%.3g mGal), from %lld stations where surveys meet",
        grouping.Count(), Count(shifted), settings.surveys.standard_errors,
        settings.surveys.offset_floor, Count(offsets.steps)));
    // Shifted first, then by the size of the offset; unlinked last.
    std::vector<size_t> order(offsets.surveys.size());
    std::iota(order.begin(), order.end(), size_t{0});
    const auto size = [&](size_t s) {
        const SurveyOffset &o = offsets.surveys[s];
        return o.linked ? std::fabs(o.offset) : -1.0;
    };
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
        const bool sa = offsets.surveys[a].shifted, sb = offsets.surveys[b].shifted;
        return sa != sb ? sa : size(a) > size(b);
    });
    lines.push_back(Format("  %-20s %9s %10s %12s %10s", "survey", "stations",
                           "in contact", "offset mGal", "std error"));
    const size_t shown = all ? order.size() : std::min(order.size(), max_surveys_shown);
    for (size_t i = 0; i < shown; ++i) {
        const SurveyOffset &o = offsets.surveys[order[i]];
        const std::string &name = grouping.names[order[i]];
        if (!o.linked) {
            lines.push_back(Format("  %-20s %9lld %10s  touches no other survey: no offset",
                                   name.c_str(), Count(o.stations), "0"));
            continue;
        }
        lines.push_back(Format("  %-20s %9lld %10lld %+12.3f %10.3f%s%s", name.c_str(),
                               Count(o.stations), Count(o.in_contact), o.offset,
                               o.standard_error, o.shifted ? "  shifted" : "",
                               o.datum ? "  (datum)" : ""));
    }
    if (shown < order.size()) {
        lines.push_back(Format("  ... and %zu more (all of them with --verbose)",
                               order.size() - shown));
    }
    if (shifted > 0) {
        const int64_t removed = findings.suspects_levelled;
        lines.push_back(Format(
            "Suspects judged with the shifted surveys levelled: %lld %s than "
            "on the values as they are (%lld stations estimated again)",
            Count(removed < 0 ? -removed : removed), removed < 0 ? "more" : "fewer",
            Count(findings.estimated_again)));
    }
    return lines;
}
