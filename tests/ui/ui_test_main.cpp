// The widget tests need one application object for the whole program.

#include "ui/application.h"

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    BoxsweeperApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
