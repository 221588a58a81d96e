#include <gmock/gmock.h>

#include <QCoreApplication>

int main(int argc, char** argv) {
    // The sockets and timers under test deliver their events through this application's loop.
    QCoreApplication app(argc, argv);
    testing::InitGoogleMock(&argc, argv);
    return RUN_ALL_TESTS();
}
