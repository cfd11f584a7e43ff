#include "synth/modalkernel.h"

#include "synth/modelanes.h"

#ifdef MOTIFO_AVX2_KERNEL
// In modalkernelavx2.cpp, the one file built for AVX2 and FMA.
void renderModalModesAvx2(ModalModes& modes, int count, const ModalModel& model, float* out, int numFrames);
#endif

namespace {
void renderSse2(ModalModes& modes, int count, const ModalModel& model, float* out, int numFrames)
{
    using namespace modelanes;
    renderModes<4, SumOrder::ModeByMode>(modes, count, modeConstants(model), out, numFrames);
}
} // namespace

const ModalKernel& ModalKernel::sse2()
{
    static const ModalKernel kernel { "SSE2", renderSse2 };
    return kernel;
}

const ModalKernel* ModalKernel::avx2()
{
#ifdef MOTIFO_AVX2_KERNEL
    // Also false where the operating system does not save the wide registers.
    static const bool runs = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
    static const ModalKernel kernel { "AVX2", renderModalModesAvx2 };
    return runs ? &kernel : nullptr;
#else
    return nullptr;
#endif
}

const ModalKernel& ModalKernel::fastest()
{
    const ModalKernel* wide = avx2();
    return wide ? *wide : sse2();
}
