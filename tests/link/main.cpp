// Every test here switches Link on, which finds peers by multicast: the suite
// runs itself again inside a network namespace of its own that has only the
// loopback interface, so nothing it sends leaves this machine.
#include "support/coreapplicationtests.h"
#include "support/loopbacknamespace.h"

int main(int argc, char** argv)
{
    if (!LoopbackNamespace::inside())
        return LoopbackNamespace::runAgainInside(argc, argv);
    return CoreApplicationTests::run(argc, argv);
}
