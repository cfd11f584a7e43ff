// What Link adds to each audio cycle: reading the session and moving the
// transport onto its beats, as a fraction of the budget of a 128-frame cycle.
// Link only measures while it is on, and on it sends multicast: the program
// runs itself again in a network namespace with loopback only.
#include "budget.h"
#include "engine/linksession.h"
#include "engine/transport.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kFrames = 128;

void BM_LinkCycle(benchmark::State& state)
{
    LinkSession link;
    Transport& transport = Transport::instance();
    link.setEnabled(state.range(0) != 0, transport.bpm());
    float buffer[2 * kFrames] = {};
    for (auto _ : state) {
        benchmark::DoNotOptimize(link.alignCycle(transport, kFrames));
        transport.process(buffer, kFrames);
    }
    link.setEnabled(false, transport.bpm());
    reportBudget(state, kFrames);
}
BENCHMARK(BM_LinkCycle)->Arg(0)->Arg(1)->ArgName("on");

int runInOwnNamespace(int argc, char** argv)
{
    setenv("MOTIFO_LINK_NAMESPACE", "1", 1);
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
    if (!std::getenv("MOTIFO_LINK_NAMESPACE"))
        return runInOwnNamespace(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
