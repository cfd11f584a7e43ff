#include "engine/enginecontext.h"
#include "engine/zubapi.h"
#include "qt/liveinput.h"
#include "qt/zubapp.h"
#include "support/coreapplicationtests.h"

#include <QCoreApplication>
#include <QDebug>
#include <cstring>
#include <iostream>
#include <string>

namespace {

// The whole program in a child process, driven by the parent test through
// lines on standard input: each line is one message to the API, and the
// child answers "zubapp-live: recording <0|1>" once it is handled. An empty
// line ends the program.
int runZubAppLive(int argc, char** argv)
{
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    auto* app = new ZubApp(argc, argv);
    std::string line;
    while (std::getline(std::cin, line) && !line.empty()) {
        app->engineContext()->api()->handleMessage(line);
        std::cout << "zubapp-live: recording " << (app->liveInput()->recordingDevice() ? 1 : 0) << std::endl;
    }
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
