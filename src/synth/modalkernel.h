#pragma once

class ModalModel;
struct ModalModes;

// How a voice renders its modes between shifts: the same arithmetic four
// modes side by side (SSE2, on every x86-64) or eight (AVX2 with FMA), chosen
// once at run time by what the processor has.
class ModalKernel
{
public:
    // Adds modes [0, count) into out[0, numFrames) and moves them on by as
    // many samples.
    using Render = void (*)(ModalModes& modes, int count, const ModalModel& model, float* out, int numFrames);

    // Sums each frame's modes one after the other in mode order, as a tick
    // does: the numbers of the recorded golden files.
    static const ModalKernel& sse2();
    // Null where this build or this processor lacks AVX2 and FMA. Moves the
    // modes exactly as the SSE2 kernel does but sums them in another order
    // (each lane across the groups, products fused): its numbers differ from
    // the SSE2 kernel's in the last bits.
    static const ModalKernel* avx2();
    // The widest this processor runs.
    static const ModalKernel& fastest();

    const char* name;
    Render render;
};
