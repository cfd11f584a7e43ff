#include "core/beatgrid.h"

#include <cmath>

namespace {

int64 floorMod(int64 a, int64 m)
{
    const int64 r = a % m;
    return r < 0 ? r + m : r;
}

int64 floorDiv(int64 a, int64 m)
{
    return (a - floorMod(a, m)) / m;
}

} // namespace

BeatGrid::BeatGrid(double bpm)
    : m_dBpm(bpm > 0.0 && std::isfinite(bpm) ? bpm : 120.0)
{
}

double BeatGrid::framesPerBeat() const
{
    return FRAMES_PER_MINUTE / m_dBpm;
}

int64 BeatGrid::beatStart(int64 beat) const
{
    // One product and one division, so N beats are round(N x 60 x 44,100 / bpm).
    return std::llround(double(beat) * FRAMES_PER_MINUTE / m_dBpm);
}

int64 BeatGrid::beatAt(int64 frame) const
{
    int64 beat = int64(std::floor(double(frame) * m_dBpm / FRAMES_PER_MINUTE));
    while (beatStart(beat) > frame)
        --beat;
    while (beatStart(beat + 1) <= frame)
        ++beat;
    return beat;
}

int64 BeatGrid::loopPhase(int64 frame, int64 beats, int64 loopFrames) const
{
    if (loopFrames <= 0)
        return 0;
    if (!fits(beats, loopFrames))
        return floorMod(frame, loopFrames);
    const int64 passStart = beatStart(floorDiv(beatAt(frame), beats) * beats);
    // A pass one frame longer than the loop plays its first frame once more.
    return floorMod(frame - passStart, loopFrames);
}
