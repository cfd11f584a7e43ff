// The modal voice's modes eight at a time. This file alone is built with
// -mavx2 -mfma, and only runs where ModalKernel::avx2() found both.
#include "synth/modelanes.h"

void renderModalModesAvx2(ModalModes& modes, int count, const ModalModel& model, float* out, int numFrames)
{
    using namespace modelanes;
    renderModes<8, SumOrder::LaneByLane>(modes, count, modeConstants(model), out, numFrames);
}
