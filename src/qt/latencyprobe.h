#pragma once

#include <atomic>

// "Measure latency": a click on the output, listened for on the input. The
// output device stamps when the click is heard, the input device when it
// came back, both on the clock the live input is placed by; what is left
// between the two is the delay that the devices do not report.
class LatencyProbe
{
public:
    static constexpr float CLICK_LEVEL = 0.8f;
    // The quietest click that counts as heard; a noisy input asks for more:
    // four times its loudest sample while the click was on its way.
    static constexpr float HEARD_LEVEL = 0.02f;

    // GUI thread: the next output buffer carries a click.
    void arm();
    // GUI thread: a measurement that gave up; no click is played later and
    // nothing heard later counts.
    void disarm();
    // Output callback: adds the click to the first frames of `out` when
    // armed; `heardAt` is when the buffer's first frame is heard.
    void play(float* out, long frames, double heardAt);
    // Input callback: looks for the click once it was played; `capturedAt`
    // is when the buffer's first frame was captured.
    void listen(const float* in, long frames, int channels, double capturedAt, double rate);
    // GUI thread: seconds from the click being heard to it coming back in;
    // false while it has not come back.
    bool result(double& seconds) const;

private:
    enum State { Idle, Armed, Played, Heard };
    std::atomic<int> m_state { Idle };
    std::atomic<double> m_playedAt { 0.0 };
    std::atomic<double> m_heardAt { 0.0 };
    float m_noise = 0.0f; // input thread
};
