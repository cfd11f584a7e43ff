// The trivial JACK client the soak compares Motifo with: PortAudio's JACK
// host API, a quiet sine, nothing else. Runs for the given seconds and prints
// its callback and underflow counts as JSON.
//
//   trivialclient <client name> <seconds>
#include <pa_jack.h>
#include <portaudio.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <thread>

namespace {

struct State
{
    double phase = 0.0;
    std::atomic<long> callbacks { 0 };
    std::atomic<long> underflows { 0 };
};

int play(const void*, void* output, unsigned long frames, const PaStreamCallbackTimeInfo*,
    PaStreamCallbackFlags flags, void* data)
{
    State& state = *static_cast<State*>(data);
    float* out = static_cast<float*>(output);
    for (unsigned long i = 0; i < frames; ++i) {
        out[2 * i] = out[2 * i + 1] = 0.01f * static_cast<float>(std::sin(state.phase));
        state.phase = std::fmod(state.phase + 2.0 * M_PI * 440.0 / 44100.0, 2.0 * M_PI);
    }
    state.callbacks.fetch_add(1, std::memory_order_relaxed);
    if (flags & paOutputUnderflow)
        state.underflows.fetch_add(1, std::memory_order_relaxed);
    return paContinue;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s <client name> <seconds>\n", argv[0]);
        return 2;
    }
    PaJack_SetClientName(argv[1]);
    if (Pa_Initialize() != paNoError)
        return 1;
    const PaHostApiIndex jack = Pa_HostApiTypeIdToHostApiIndex(paJACK);
    const PaHostApiInfo* host = jack >= 0 ? Pa_GetHostApiInfo(jack) : nullptr;
    if (!host || host->defaultOutputDevice < 0) {
        std::fprintf(stderr, "no JACK output\n");
        Pa_Terminate();
        return 1;
    }
    PaStreamParameters out {};
    out.device = host->defaultOutputDevice;
    out.channelCount = 2;
    out.sampleFormat = paFloat32;
    out.suggestedLatency = 256 / 88200.0;
    State state;
    PaStream* stream = nullptr;
    if (Pa_OpenStream(&stream, nullptr, &out, 44100, paFramesPerBufferUnspecified, paNoFlag, play, &state) != paNoError
        || Pa_StartStream(stream) != paNoError) {
        std::fprintf(stderr, "cannot open the stream\n");
        Pa_Terminate();
        return 1;
    }
    std::this_thread::sleep_for(std::chrono::duration<double>(std::atof(argv[2])));
    Pa_StopStream(stream);
    Pa_CloseStream(stream);
    Pa_Terminate();
    std::printf("{ \"callbacks\": %ld, \"underflows\": %ld }\n", state.callbacks.load(), state.underflows.load());
    return 0;
}
