// The drawing's tests run with a QGuiApplication on the offscreen platform,
// as the batch tool draws.
#include <gtest/gtest.h>

#include "plot/OffscreenGui.h"

int main(int argc, char **argv) {
    testing::InitGoogleTest(&argc, argv);
    const TOffscreenGui gui;
    return RUN_ALL_TESTS();
}
