#include <gmock/gmock.h>

#include <QCoreApplication>
#include <cstdlib>
#include <cstring>

#include "platform/durability_probe.h"

int main(int argc, char** argv) {
    // The sockets and timers under test deliver their events through this application's loop.
    QCoreApplication app(argc, argv);
    // The durability matrix runs the program in processes of its own, from this executable.
    if (argc == 5 && std::strcmp(argv[1], "--durability-probe") == 0)
        return quillfin::platform::RunDurabilityProbe(argv[2], std::atoi(argv[3]), argv[4]);
    testing::InitGoogleMock(&argc, argv);
    return RUN_ALL_TESTS();
}
