// Every test program runs with a QApplication on Qt's offscreen platform.
#include "platform/headless.h"

#include <QApplication>
#include <gmock/gmock.h>

int main(int argc, char** argv)
{
    tk::selectPlatformForDisplay();
    QApplication app(argc, argv);
    ::testing::InitGoogleMock(&argc, argv);
    return RUN_ALL_TESTS();
}
