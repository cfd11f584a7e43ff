// What Link adds to each audio cycle: reading the session and moving the
// transport onto its beats, as a fraction of the budget of a 128-frame cycle.
// Link only measures while it is on, and on it sends multicast: the program
// runs itself again in a network namespace with loopback only.
#include "budget.h"
#include "engine/linksession.h"
#include "engine/transport.h"
#include "support/loopbacknamespace.h"

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

} // namespace

int main(int argc, char** argv)
{
    if (!LoopbackNamespace::inside())
        return LoopbackNamespace::runAgainInside(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
