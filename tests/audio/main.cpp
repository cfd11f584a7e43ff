#include <QCoreApplication>
#include <QTemporaryDir>
#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    QTemporaryDir home;
    qputenv("XDG_DATA_HOME", (home.path() + "/data").toUtf8());
    QCoreApplication app(argc, argv);
    app.setApplicationName("Motifo");
    app.setOrganizationName("Quavertone");
    return RUN_ALL_TESTS();
}
