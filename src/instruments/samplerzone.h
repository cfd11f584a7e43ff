#pragma once

#include "core/zubtypes.h"
#include "dsp/adsrsettings.h"

#include <array>
#include <memory>
#include <string>

class Sample;

namespace Quavertone {
class SamplePack_Zone;
}

// One zone of a sample pack: a key range played by one decoded sample with
// its own envelope settings.
class SamplerZone
{
public:
    static constexpr int kNumKeys = 128;

    // Decodes the zone's sample from dir + "/" + filename. A sample that
    // cannot be decoded stays empty and the zone plays silence; a file name
    // that leads outside dir is refused with a log line and gives no sample.
    SamplerZone(const Quavertone::SamplePack_Zone& zone, const std::string& dir);
    ~SamplerZone();

    // Points every key of the zone's range, clamped to 0..127, at this zone.
    void mapKeys(std::array<SamplerZone*, kNumKeys>& keyMap);
    // False where the zone's file was refused, missing or undecodable.
    bool hasAudio() const;

    std::unique_ptr<Sample> m_pSample;
    std::unique_ptr<ADSRSettings> m_pEnvelopeParams;
    int32 m_startKey;
    int32 m_endKey;
    int32 m_startVel; // stored, not used for playback
    int32 m_endVel;   // stored, not used for playback
    int32 m_rootKey;
};
