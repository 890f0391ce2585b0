// What the surveys of a run came to, as the summary and the results window
// say it: their offsets (shifted ones first), the refusals, the suspects the
// levelling removed. The texts are written here once.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "app/RunQc.h"

// Survey lines shown at most unless every one is asked for.
inline constexpr size_t max_surveys_shown = 20;

// Why the surveys asked for cannot be used, as a usage error of the option
// that asked for them ("--survey-from-name: ..."); empty when they can. A
// pattern that matches no name, a reference survey that is none of them.
std::string SurveyUsageProblem(const QcFindings &findings,
                               const QcSettings &settings);

// The summary's lines on the surveys, none without surveys. Each survey's
// line indented by two blanks; at most max_surveys_shown of them unless
// `all`.
std::vector<std::string> SurveyLines(const QcFindings &findings,
                                     const QcSettings &settings, bool all);
