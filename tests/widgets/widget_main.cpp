#include <gtest/gtest.h>
#include <QApplication>

#include <cstdlib>

#include "ui/resources_init.h"

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    QApplication::setOrganizationName("Orvello");
    QApplication::setApplicationName("Tandril");
    tandril::InitResources();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
