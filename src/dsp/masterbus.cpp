#include "dsp/masterbus.h"

#include "core/zubtypes.h"

#include <algorithm>

MasterBus::MasterBus()
{
    for (std::vector<float>* v : { &m_left, &m_right, &m_lowL, &m_lowR, &m_midL, &m_midR, &m_highL, &m_highR })
        v->assign(DEINTERLACED_BUF_FRAMES, 0.0f);
    for (std::vector<float>* v : { &m_lowBand, &m_midBand, &m_highBand })
        v->assign(ZUB_FRAMESIZE * DEINTERLACED_BUF_FRAMES, 0.0f);
    m_midFilter.setup(3, ZUB_SAMPLE_RATE, 3000.0, 5000.0, 1.0);
    m_lowFilter.setup(ZUB_SAMPLE_RATE, 160.0, 0.8);
    m_highFilter.setup(ZUB_SAMPLE_RATE, 6000.0, 0.8);
}

float MasterBus::compFactor(Band band) const
{
    const GhettoComp* comps[] = { &m_lowComp, &m_midComp, &m_highComp };
    return comps[band]->compFactor();
}

bool MasterBus::restsThrough(const float* buffer, int numFrames)
{
    const bool silent = std::all_of(buffer, buffer + ZUB_FRAMESIZE * numFrames, [](float s) { return s == 0.0f; });
    if (!silent) {
        m_iSilentFrames = 0;
        return false;
    }
    const bool rested = m_iSilentFrames >= REST_AFTER_FRAMES;
    m_iSilentFrames = std::min(REST_AFTER_FRAMES, m_iSilentFrames + numFrames);
    return rested && m_lowComp.atUnity() && m_midComp.atUnity() && m_highComp.atUnity();
}

void MasterBus::process(float* buffer, int numFrames)
{
    if (numFrames <= 0 || restsThrough(buffer, numFrames))
        return;
    while (numFrames > 0) {
        const int piece = std::min(numFrames, DEINTERLACED_BUF_FRAMES - 1);
        processPiece(buffer, piece);
        buffer += ZUB_FRAMESIZE * piece;
        numFrames -= piece;
    }
}

void MasterBus::processPiece(float* buffer, int numFrames)
{
    splitBands(buffer, numFrames);
    m_lowComp.process(m_lowBand.data(), numFrames);
    m_midComp.process(m_midBand.data(), numFrames);
    m_highComp.process(m_highBand.data(), numFrames);
    mixBands(buffer, numFrames);
}

void MasterBus::splitBands(const float* buffer, int n)
{
    for (int i = 0; i < n; ++i) {
        m_left[i] = buffer[2 * i];
        m_right[i] = buffer[2 * i + 1];
    }
    for (std::vector<float>* v : { &m_lowL, &m_midL, &m_highL })
        std::copy_n(m_left.begin(), n, v->begin());
    for (std::vector<float>* v : { &m_lowR, &m_midR, &m_highR })
        std::copy_n(m_right.begin(), n, v->begin());

    m_lowFilter.processChannel(0, m_lowL.data(), n);
    m_lowFilter.processChannel(1, m_lowR.data(), n);
    float* mid[] = { m_midL.data(), m_midR.data() };
    m_midFilter.process(n, mid);
    m_highFilter.processChannel(0, m_highL.data(), n);
    m_highFilter.processChannel(1, m_highR.data(), n);

    for (int i = 0; i < n; ++i) {
        m_lowBand[2 * i] = m_lowL[i];
        m_lowBand[2 * i + 1] = m_lowR[i];
        m_midBand[2 * i] = m_midL[i];
        m_midBand[2 * i + 1] = m_midR[i];
        m_highBand[2 * i] = m_highL[i];
        m_highBand[2 * i + 1] = m_highR[i];
    }
}

void MasterBus::mixBands(float* buffer, int n) const
{
    // The quadratic term is 0.8 on the left and 1.2 on the right; the sound
    // of the bus depends on it, so the channels are not treated alike.
    constexpr double kShape[ZUB_FRAMESIZE] = { 0.8, 1.2 };
    for (int j = 0; j < ZUB_FRAMESIZE * n; ++j) {
        const float h = 3.0f * m_highBand[j];
        buffer[j] = static_cast<float>(3.0 * m_lowBand[j] + 2.4 * m_midBand[j] + h + kShape[j % 2] * h * h);
    }
}
