#include "qt/deviceproblems.h"
#include "qt/zubapp.h"
#include "qt/zubui.h"

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>
#include <QTimer>
#include <cstring>
#include <gtest/gtest.h>

namespace {

// The whole program in a child process: start, wait, close the window, exit.
// The environment (data location, working directory) comes from the parent.
int runZubApp(int argc, char** argv)
{
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    auto* app = new ZubApp(argc, argv);
    qDebug() << "zubapp-test: first run" << app->isFirstRun() << "cwd" << QDir::currentPath();
    qDebug().noquote() << "zubapp-test: devices" << app->mainWindow()->deviceProblems()->text() << "page"
                       << QString::fromStdString(app->mainWindow()->deviceProblems()->stateMessage());
    QTimer::singleShot(1500, app->mainWindow(), &QWidget::close);
    app->exec();
    delete app;
    qDebug() << "zubapp-test: exited";
    return 0;
}

} // namespace

// Every test process gets its own data location, so settings never leak
// between tests or into the user's files.
int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    if (argc > 1 && std::strcmp(argv[1], "--run-zubapp") == 0)
        return runZubApp(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    QTemporaryDir home;
    qputenv("XDG_DATA_HOME", (home.path() + "/data").toUtf8());
    qputenv("XDG_RUNTIME_DIR", home.path().toUtf8());
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    app.setApplicationName("Motifo");
    app.setOrganizationName("Quavertone");
    return RUN_ALL_TESTS();
}
