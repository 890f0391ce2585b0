// The platform stand-ins: message dispatch and floating-point fault detection.
#include <cfenv>
#include <cmath>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/Dialogs.h"
#include "platform/FloatChecks.h"

TEST(Dialogs, InstalledHandlerReceivesTextAndCanBeReplaced) {
    std::vector<std::string> shown;
    MessageHandler previous = SetMessageHandler(
        [&](const std::string &text) { shown.push_back(text); });
    ShowMessage("Cell size must be defined.");
    MessageHandler mine = SetMessageHandler(previous);
    ShowMessage("goes to the previous handler");
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0], "Cell size must be defined.");
    EXPECT_TRUE(static_cast<bool>(mine));
}

TEST(Dialogs, WithoutHandlerWritesToStandardError) {
    MessageHandler previous = SetMessageHandler(nullptr);
    testing::internal::CaptureStderr();
    ShowMessage("hello");
    const std::string err = testing::internal::GetCapturedStderr();
    SetMessageHandler(previous);
    EXPECT_EQ(err, "hello\n");
}

namespace {

// Operands come through volatile so the compiler cannot fold the faults away.
volatile double zero = 0.0;
volatile double one = 1.0;
volatile double huge = 1e308;
volatile double tiny = 1e-308;

} // namespace

TEST(FloatChecks, ErrorsAreReportedOnceAndBenignFlagsPass) {
    struct Case {
        const char *name;
        double (*fault)();
        const char *message;
    };
    const Case cases[] = {
        {"division by zero", [] { return one / zero; },
         "Floating point division by zero"},
        {"invalid", [] { return zero / zero; },
         "Invalid floating point operation"},
        {"square root of negative", [] { return std::sqrt(-one); },
         "Invalid floating point operation"},
        {"overflow", [] { return huge * huge; }, "Floating point overflow"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        ClearFloatErrors();
        volatile double result = c.fault();
        (void)result;
        EXPECT_TRUE(FloatErrorRaised());
        try {
            CheckFloatErrors();
            ADD_FAILURE() << "no error raised";
        } catch (const FloatingPointError &error) {
            EXPECT_STREQ(error.what(), c.message);
        }
        EXPECT_NO_THROW(CheckFloatErrors())
            << "flags must be cleared by the throw";
    }

    ClearFloatErrors();
    volatile double under = tiny * tiny; // underflow and inexact only
    volatile double third = one / 3.0;
    (void)under;
    (void)third;
    EXPECT_NO_THROW(CheckFloatErrors());
}
