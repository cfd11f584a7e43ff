#include "qt/commandline.h"
#include "qt/qtloghandler.h"
#include "qt/zubapp.h"

#include <QDebug>

#include <filesystem>

namespace {

// Without a GPU, OpenGL is drawn by the processor (llvmpipe), and every frame
// of the web view costs several times more through it than through Qt
// Quick's software renderer. A machine with a GPU has a DRM render node.
// True where the window is drawn in software.
bool drawInSoftwareWithoutGpu()
{
    if (!qEnvironmentVariableIsEmpty("QT_QUICK_BACKEND"))
        return qgetenv("QT_QUICK_BACKEND") == "software";
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/dev/dri", error)) {
        if (entry.path().filename().string().starts_with("renderD"))
            return false;
    }
    qputenv("QT_QUICK_BACKEND", "software");
    // Nor does the X11 window need GLX, which loads Mesa and LLVM.
    if (qEnvironmentVariableIsEmpty("QT_XCB_GL_INTEGRATION"))
        qputenv("QT_XCB_GL_INTEGRATION", "none");
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    if (CommandLine::answeredAlone(argc, argv))
        return 0;
    QtLogHandler::install();
    qDebug() << "Starting Zub...";
    // QtWebEngine shares one GL context with the widgets; drawn in software,
    // nothing loads OpenGL at all (about 37 MB of llvmpipe and LLVM).
    if (!drawInSoftwareWithoutGpu())
        QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    auto* app = new ZubApp(argc, argv);
    if (!app->handedOver())
        app->exec();
    delete app;
    return 0;
}
