// Every test here switches Link on, which finds peers by multicast: the suite
// runs itself again inside a network namespace of its own that has only the
// loopback interface, so nothing it sends leaves this machine.
#include "support/loopbacknamespace.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>
#include <unistd.h>
#include <vector>

int main(int argc, char** argv)
{
    if (!LoopbackNamespace::inside())
        return LoopbackNamespace::runAgainInside(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    QTemporaryDir home;
    qputenv("XDG_DATA_HOME", (home.path() + "/data").toUtf8());
    QCoreApplication app(argc, argv);
    app.setApplicationName("Motifo");
    app.setOrganizationName("Quavertone");
    return RUN_ALL_TESTS();
}
