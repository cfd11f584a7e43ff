// Every test here switches Link on, which finds peers by multicast: the suite
// runs itself again inside a network namespace of its own that has only the
// loopback interface, so nothing it sends leaves this machine.
#include <QCoreApplication>
#include <QTemporaryDir>
#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr const char* kInside = "MOTIFO_LINK_NAMESPACE";

int runInOwnNamespace(int argc, char** argv)
{
    setenv(kInside, "1", 1);
    static const char* script = "ip link set lo up && ip link set lo multicast on"
                                " && ip route add 224.0.0.0/4 dev lo && exec \"$@\"";
    std::vector<char*> args = { const_cast<char*>("unshare"), const_cast<char*>("-n"), const_cast<char*>("--"),
        const_cast<char*>("sh"), const_cast<char*>("-c"), const_cast<char*>(script), const_cast<char*>("sh") };
    for (int i = 0; i < argc; ++i)
        args.push_back(argv[i]);
    args.push_back(nullptr);
    execvp("unshare", args.data());
    std::perror("unshare");
    return 1;
}

} // namespace

int main(int argc, char** argv)
{
    if (!std::getenv(kInside))
        return runInOwnNamespace(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    QTemporaryDir home;
    qputenv("XDG_DATA_HOME", (home.path() + "/data").toUtf8());
    QCoreApplication app(argc, argv);
    app.setApplicationName("Motifo");
    app.setOrganizationName("Quavertone");
    return RUN_ALL_TESTS();
}
