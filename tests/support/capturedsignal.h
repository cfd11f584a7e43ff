#pragma once

#include <vector>

// What a listener notices in a recording: pitch, level and where sounds start.
namespace capturedsignal {

// One channel of interleaved frames with `channels` channels.
std::vector<float> channel(const std::vector<float>& frames, int channels, int which);
// Root mean square from sample `first` to the end.
double rms(const std::vector<float>& mono, std::size_t first = 0);
// Frequency from rising zero crossings, interpolated between samples, of a
// signal sampled at `rate`; 0 when fewer than two are found.
double frequency(const std::vector<float>& mono, double rate = 44100.0);
// The same from the periods alone, leaving out those a missed server cycle
// broke (more than 5 % off the median): the pitch of a recording made on a
// loaded machine.
double steadyFrequency(const std::vector<float>& mono, double rate = 44100.0);
// Samples where a sound louder than threshold starts after at least a tenth
// of a second of silence.
std::vector<long> onsets(const std::vector<float>& mono, float threshold);
// The level a sine of the amplitude in both channels has at Motifo's output:
// the engine adds live input at unity and the master bus shapes every mix
// the same way.
double outputRms(double hz, float amplitude);

} // namespace capturedsignal
