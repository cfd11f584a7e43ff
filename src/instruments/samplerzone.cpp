#include "instruments/samplerzone.h"

#include "core/log.h"
#include "formats/sample.h"
#include "proto/samplepack.pb.h"

#include <algorithm>
#include <cmath>

namespace {
// A damaged pack must not make the envelope leave 0..1 or produce NaN: times
// that are not finite or negative become 0, the sustain level is held to 0..1.
double sanitizedTime(float t)
{
    return std::isfinite(t) && t > 0.0f ? t : 0.0;
}

double sanitizedLevel(float level)
{
    return std::isnan(level) ? 1.0 : std::clamp(static_cast<double>(level), 0.0, 1.0);
}
// A zone's file must lie inside the pack's folder: no absolute path or drive,
// no ".." part, with either kind of separator.
bool staysInside(const std::string& name)
{
    if (name.empty() || name[0] == '/' || name[0] == '\\' || (name.size() > 1 && name[1] == ':'))
        return false;
    std::size_t start = 0;
    while (start <= name.size()) {
        const std::size_t end = std::min(name.find_first_of("/\\", start), name.size());
        if (name.compare(start, end - start, "..") == 0)
            return false;
        start = end + 1;
    }
    return true;
}

std::unique_ptr<Sample> loadSample(const std::string& dir, const std::string& name)
{
    if (staysInside(name))
        return std::make_unique<Sample>(dir + "/" + name);
    logInfo() << "Refused the sample file name \"" << name << "\" in " << dir
              << ": it leads outside the instrument folder";
    return nullptr;
}
} // namespace

SamplerZone::SamplerZone(const Quavertone::SamplePack_Zone& zone, const std::string& dir)
    : m_pSample(loadSample(dir, zone.filename()))
    , m_pEnvelopeParams(std::make_unique<ADSRSettings>())
    , m_startKey(zone.start_key())
    , m_endKey(zone.end_key())
    , m_startVel(zone.start_vel())
    , m_endVel(zone.end_vel())
    , m_rootKey(zone.root_key())
{
    // adsr_params() yields the schema defaults (1, 2, 1, 1) when absent.
    const auto& adsr = zone.adsr_params();
    m_pEnvelopeParams->attack = sanitizedTime(adsr.attack_time());
    m_pEnvelopeParams->decay = sanitizedTime(adsr.decay_time());
    m_pEnvelopeParams->sustain = sanitizedLevel(adsr.sustain_level());
    m_pEnvelopeParams->release = sanitizedTime(adsr.release_time());
}

SamplerZone::~SamplerZone() = default;

void SamplerZone::mapKeys(std::array<SamplerZone*, kNumKeys>& keyMap)
{
    const int lo = std::min(std::max(m_startKey, 0), kNumKeys - 1);
    const int hi = std::min(std::max(m_endKey, 0), kNumKeys - 1);
    for (int k = lo; k <= hi; ++k)
        keyMap[k] = this;
}

bool SamplerZone::hasAudio() const
{
    return m_pSample && m_pSample->numSamples() > 0;
}
