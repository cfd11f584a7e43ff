#include "qt/commandline.h"
#include "qt/qtloghandler.h"
#include "qt/zubapp.h"

#include <QDebug>

#include <filesystem>

namespace {

// Without a GPU, OpenGL is drawn by the processor (llvmpipe), and every frame
// of the web view costs several times more through it than through Qt
// Quick's software renderer. A machine with a GPU has a DRM render node.
void drawInSoftwareWithoutGpu()
{
    if (!qEnvironmentVariableIsEmpty("QT_QUICK_BACKEND"))
        return;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/dev/dri", error)) {
        if (entry.path().filename().string().starts_with("renderD"))
            return;
    }
    qputenv("QT_QUICK_BACKEND", "software");
}

} // namespace

int main(int argc, char** argv)
{
    if (CommandLine::answeredAlone(argc, argv))
        return 0;
    QtLogHandler::install();
    qDebug() << "Starting Zub...";
    // QtWebEngine shares one GL context with the widgets.
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    drawInSoftwareWithoutGpu();
    auto* app = new ZubApp(argc, argv);
    if (!app->handedOver())
        app->exec();
    delete app;
    return 0;
}
