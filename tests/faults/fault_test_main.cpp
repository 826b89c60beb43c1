#include "private_settings.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

// The control and the exchange driver live on an event loop, and QProcess wants an application
// object on the thread that runs the children.
int main(int argc, char** argv) {
    const darq::testing::PrivateSettings settings;
    QCoreApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
