#include "qt/commandline.h"
#include "qt/qtloghandler.h"
#include "qt/zubapp.h"

#include <QDebug>

int main(int argc, char** argv)
{
    if (CommandLine::answeredAlone(argc, argv))
        return 0;
    QtLogHandler::install();
    qDebug() << "Starting Zub...";
    // QtWebEngine shares one GL context with the widgets.
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    auto* app = new ZubApp(argc, argv);
    if (!app->handedOver())
        app->exec();
    delete app;
    return 0;
}
