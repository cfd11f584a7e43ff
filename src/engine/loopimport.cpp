#include "engine/loopimport.h"

#include "core/beatgrid.h"
#include "core/log.h"
#include "dsp/rateconverter.h"
#include "engine/project.h"
#include "engine/transport.h"
#include "engine/zubengine.h"
#include "formats/wavdecoder.h"
#include "loops/idea.h"
#include "loops/ideacollection.h"
#include "loops/loop.h"
#include "loops/looppool.h"


namespace {

constexpr int kMinRate = 8000;
constexpr int kMaxRate = 192000;
constexpr int kMinBeats = 2;

// The fewest beats, a power of two, that hold the sound; up to a quarter of
// a beat at the end may go (a tail or a rounding in the writer).
int64 beatsToHold(int64 frames, const BeatGrid& grid)
{
    const int64 spare = grid.framesForBeats(1) / 4;
    int64 beats = kMinBeats;
    while (grid.framesForBeats(beats) < frames - spare)
        beats *= 2;
    return beats;
}

std::string describeSource(const WavDecoder::Audio& audio)
{
    std::string what;
    if (audio.sampleRate != ZUB_SAMPLE_RATE)
        what = std::to_string(audio.sampleRate) + " Hz";
    if (audio.channels == 1)
        what += what.empty() ? "mono" : " mono";
    return what;
}

} // namespace

LoopImport::LoopImport(ZubEngine* engine)
    : m_pEngine(engine)
{
}

int LoopImport::addToActiveIdea(const std::string& path, std::string& message)
{
    WavDecoder::Audio audio;
    message = WavDecoder::decode(path, audio, ZUB_FRAMESIZE, MAX_SECONDS);
    if (message.empty() && (audio.sampleRate < kMinRate || audio.sampleRate > kMaxRate))
        message = "its sample rate of " + std::to_string(audio.sampleRate) + " Hz is outside "
            + std::to_string(kMinRate) + " to " + std::to_string(kMaxRate) + " Hz";
    if (!message.empty()) {
        logError() << "Refused the WAV file " << path << ": " << message;
        return 1;
    }

    std::vector<float> stereo(audio.samples.size() * std::size_t(ZUB_FRAMESIZE / audio.channels));
    for (std::size_t i = 0; i < stereo.size(); ++i)
        stereo[i] = audio.samples[i / std::size_t(ZUB_FRAMESIZE / audio.channels)];
    if (audio.sampleRate != ZUB_SAMPLE_RATE) {
        std::vector<float> converted;
        message = RateConverter::convert(stereo, ZUB_FRAMESIZE, audio.sampleRate, ZUB_SAMPLE_RATE, converted);
        if (!message.empty()) {
            logError() << "Refused the WAV file " << path << ": " << message;
            return 1;
        }
        stereo.swap(converted);
    }

    const BeatGrid grid = m_pEngine->transport()->grid();
    const int64 soundFrames = int64(stereo.size()) / ZUB_FRAMESIZE;
    const int64 beats = beatsToHold(soundFrames, grid);
    const int64 frames = grid.framesForBeats(beats);
    stereo.resize(std::size_t(frames) * ZUB_FRAMESIZE, 0.0f);

    std::shared_ptr<Loop> loop = m_pEngine->loopPool()->createLoop();
    Idea* idea = m_pEngine->ideaCollection()->activeIdeaMadeIfNone();
    if (!loop || !idea) {
        message = "there is no room for another loop";
        return 1;
    }
    loop->copyFrom(stereo.data(), uint32_t(frames), 0);
    loop->setNumBeats(int(beats));
    idea->addLoop(loop);
    m_pEngine->project()->setModified(true);

    const std::string source = describeSource(audio);
    message = source.empty() ? "" : "converted from " + source;
    if (frames > soundFrames) {
        message += message.empty() ? "" : ", ";
        message += std::to_string(beats) + " beats long with silence at the end";
    }
    logInfo() << "Added the WAV file " << path << " as a loop of " << beats << " beats"
              << (message.empty() ? "" : " (" + message + ")");
    return 0;
}
