#include "private_settings.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

// The control and the exchange driver live on an event loop, as in the window.
int main(int argc, char** argv) {
    const darq::testing::PrivateSettings settings;
    ::testing::InitGoogleTest(&argc, argv);
    QCoreApplication application(argc, argv);
    return RUN_ALL_TESTS();
}
