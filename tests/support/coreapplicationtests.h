#pragma once

// The suites that run Motifo's Qt side without a window: the tests run inside
// a core application named as the program is, with a data location of the
// process's own, so settings never leak between tests or into the user's files.
#include <QCoreApplication>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace CoreApplicationTests {

inline int run(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    QTemporaryDir home;
    qputenv("XDG_DATA_HOME", (home.path() + "/data").toUtf8());
    QCoreApplication app(argc, argv);
    app.setApplicationName("Motifo");
    app.setOrganizationName("Quavertone");
    return RUN_ALL_TESTS();
}

} // namespace CoreApplicationTests
