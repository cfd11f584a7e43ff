#include "engine/enginecontext.h"
#include "engine/zubapi.h"
#include "engine/zubengine.h"
#include "loops/looprecorder.h"
#include "qt/deviceproblems.h"
#include "qt/liveinput.h"
#include "qt/zubapp.h"
#include "qt/zubui.h"
#include "support/coreapplicationtests.h"

#include <QCoreApplication>
#include <QDebug>
#include <QSocketNotifier>
#include <algorithm>
#include <cstring>
#include <iostream>
#include <string>
#include <unistd.h>

namespace {

// The whole program in a child process, driven by the parent test through
// lines on standard input while its event loop runs: each line is one
// message to the API, and the child answers with the reply, what the window
// and the page are told of the devices, the loop recorder's frame count and
// last "zubapp-live: recording <0|1>". An empty line ends the program.
void answer(ZubApp* app, const std::string& line)
{
    ZubApi* api = app->engineContext()->api();
    std::string reply = api->handleMessage(line);
    std::replace(reply.begin(), reply.end(), '\n', ' ');
    const DeviceProblems* devices = app->mainWindow()->deviceProblems();
    std::cout << "zubapp-live: reply " << reply << "\n"
              << "zubapp-live: window " << devices->text().toStdString() << "\n"
              << "zubapp-live: page " << devices->stateMessage() << "\n"
              << "zubapp-live: frames " << app->engineContext()->engine()->loopRecorder()->frameCounter() << "\n"
              << "zubapp-live: recording " << (app->liveInput()->recordingDevice() ? 1 : 0) << std::endl;
}

int runZubAppLive(int argc, char** argv)
{
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    auto* app = new ZubApp(argc, argv);
    std::string pending;
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, app, [&] {
        char chunk[4096];
        const ssize_t n = ::read(STDIN_FILENO, chunk, sizeof chunk);
        if (n <= 0) {
            input.setEnabled(false);
            app->quit();
            return;
        }
        pending.append(chunk, std::size_t(n));
        for (std::size_t end; (end = pending.find('\n')) != std::string::npos;) {
            const std::string line = pending.substr(0, end);
            pending.erase(0, end + 1);
            if (line.empty()) {
                input.setEnabled(false);
                app->quit();
                return;
            }
            answer(app, line);
        }
    });
    app->exec();
    delete app;
    std::cout << "zubapp-live: exited" << std::endl;
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc > 1 && std::strcmp(argv[1], "--run-zubapp-live") == 0)
        return runZubAppLive(argc, argv);
    return CoreApplicationTests::run(argc, argv);
}
