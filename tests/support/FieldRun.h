// A run started as a front end starts one: the fields' texts parsed into the
// settings at the edge, the Data field the input, the Output field the result.
#pragma once

#include <utility>

#include <gtest/gtest.h>

#include "app/CalcRun.h"
#include "platform/Locale.h"
#include "support/FakeCalcHost.h"

// The four parameter fields of `host` parsed into `settings` in the user's
// decimal separator; a field that does not convert fails the test.
inline void ParseFields(FakeCalcHost &host, RunSettings &settings) {
    const ParameterTexts texts{host.fields[CalcField::SearchDistance],
                               host.fields[CalcField::Increment],
                               host.fields[CalcField::MinPoints],
                               host.fields[CalcField::CellSize]};
    settings.decimal_separator = DecimalSeparator();
    if (const auto refusal = ParseParameters(texts, settings.decimal_separator,
                                             settings.parameters)) {
        ADD_FAILURE() << "a field does not convert: " << refusal->message;
    }
}

// Runs the fields of `host` with `settings` (its parameters from the fields)
// and returns the outcome.
inline RunOutcome RunFields(FakeCalcHost &host, RunSettings settings = {},
                            InputOpener open = {}) {
    ParseFields(host, settings);
    RunInput input;
    input.path = host.fields[CalcField::Data];
    input.open = std::move(open);
    RunOutputs outputs;
    outputs.result_path = host.fields[CalcField::Output];
    TCalcRun run(host);
    return run.Run(settings, input, outputs);
}
